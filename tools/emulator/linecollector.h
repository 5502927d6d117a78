#ifndef LINECOLLECTOR_H
#define LINECOLLECTOR_H

#include <QByteArray>
#include <QVector>

// Cuts a byte stream into lines as its pieces arrive, however they are split.
// A line longer than the limit is not kept in memory: only its length is
// reported, once its end has arrived.
class LineCollector
{
public:
    struct Line
    {
        // Without the line end ("\n" or "\r\n"); empty for an overlong line.
        QByteArray text;
        // The length of an overlong line, 0 for a kept one.
        qint64 droppedLength = 0;
    };

    explicit LineCollector(qint64 maxLength) : maxLength(maxLength) {}

    QVector<Line> append(const QByteArray &bytes);
    // What has arrived since the last line end.
    qint64 unfinishedLength() const { return droppedLength > 0 ? droppedLength : pending.size(); }

private:
    void addToUnfinished(const char *begin, qint64 length);

    const qint64 maxLength;
    QByteArray pending;
    qint64 droppedLength = 0;
};

#endif // LINECOLLECTOR_H
