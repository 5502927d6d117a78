#include "resulttable.h"

#include <QLocale>

#include <cstdio>

QString formatNumber(double value, int decimals)
{
    return QLocale::c().toString(value, 'f', decimals).replace(QLatin1Char(','), QLatin1Char(' '));
}

void ResultTable::add(const QString &measure, const QString &value, const QString &target, Verdict verdict)
{
    rows.append({ measure, value, target, verdict });
}

void ResultTable::addBelow(const QString &measure, double value, double limit, const QString &unit, int decimals)
{
    add(measure, formatNumber(value, decimals) + QLatin1Char(' ') + unit,
        QStringLiteral("< %1 %2").arg(formatNumber(limit, decimals), unit),
        value < limit ? Verdict::Met : Verdict::Missed);
}

void ResultTable::addAtLeast(const QString &measure, double value, double limit, const QString &unit, int decimals)
{
    add(measure, formatNumber(value, decimals) + QLatin1Char(' ') + unit,
        QStringLiteral("≥ %1 %2").arg(formatNumber(limit, decimals), unit),
        value >= limit ? Verdict::Met : Verdict::Missed);
}

void ResultTable::print() const
{
    std::printf("| Measure | Value | Target | Met |\n|---|---|---|---|\n");
    for (const Row &row : rows) {
        const char *verdict = row.verdict == Verdict::Met ? "yes" : row.verdict == Verdict::Missed ? "**no**" : "";
        std::printf("| %s | %s | %s | %s |\n", row.measure.toUtf8().constData(), row.value.toUtf8().constData(),
                    row.target.toUtf8().constData(), verdict);
    }
    std::fflush(stdout);
}
