#ifndef RESULTTABLE_H
#define RESULTTABLE_H

#include <QString>
#include <QVector>

// The benchmark's one table of results, printed as Markdown so that it can go
// into the performance notes as it stands.
class ResultTable
{
public:
    enum class Verdict { None, Met, Missed };

    void add(const QString &measure, const QString &value, const QString &target = QString(),
             Verdict verdict = Verdict::None);
    // A row whose target is "below `limit`" or "at least `limit`".
    void addBelow(const QString &measure, double value, double limit, const QString &unit, int decimals);
    void addAtLeast(const QString &measure, double value, double limit, const QString &unit, int decimals);
    void print() const;

private:
    struct Row
    {
        QString measure;
        QString value;
        QString target;
        Verdict verdict;
    };
    QVector<Row> rows;
};

QString formatNumber(double value, int decimals);

#endif // RESULTTABLE_H
