// Performance figures of the client, printed as one Markdown table. The
// in-process parts run on the offscreen platform; the client executable runs
// under a private X server.

#include "measurements.h"
#include "resulttable.h"
#include "screenfonts.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>

#include <cstdio>

static QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QString();
}

static int optionValue(const QStringList &arguments, const char *option, int fallback)
{
    const QStringList given = arguments.filter(QLatin1String(option));
    return given.isEmpty() ? fallback : given.last().mid(int(qstrlen(option))).toInt();
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The offscreen platform's notes and the link's reports on bad lines are not results.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    // The screens use the embedded fonts, as in the client.
    ScreenFonts::install();
    benchmark::Initialize(&argc, argv);

    // "--only=micro,throughput" runs some parts alone and "--screens=N" sizes the
    // throughput runs, for example under a profiler.
    const QStringList only = app.arguments().filter(QStringLiteral("--only=")).join(QLatin1Char(','))
                                 .remove(QStringLiteral("--only=")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const auto wanted = [&only](const char *part) { return only.isEmpty() || only.contains(QLatin1String(part)); };

    const QString loadBefore = loadAverage();
    ResultTable table;
    if (wanted("micro"))
        runMicroBenchmarks(table);
    if (wanted("throughput"))
        measureThroughput(table, optionValue(app.arguments(), "--screens=", 50000));
    if (wanted("latency"))
        measureLatency(table);
    if (wanted("keys"))
        measureKeyToWire(table);
    if (wanted("floodkeys"))
        measureKeysUnderFlood(table, QStringLiteral(VELMO_CLIENT));
    if (wanted("process"))
        measureClientProcess(table, QStringLiteral(VELMO_CLIENT));
    if (wanted("oversized"))
        measureOversizedScreens(table, QStringLiteral(VELMO_CLIENT));
    if (wanted("relay"))
        measureRelay(table, QStringLiteral(VELMO_EMULATOR));

    std::printf("\nLoad average (/proc/loadavg) before: %s; after: %s\n\n", qPrintable(loadBefore),
                qPrintable(loadAverage()));
    table.print();
    return 0;
}
