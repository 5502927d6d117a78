#ifndef LINEREADER_H
#define LINEREADER_H

#include <QByteArray>
#include <QVector>

// Cuts a byte stream into lines as its pieces arrive, however they are split,
// by the one rule that every part of the emulator reads lines with: a line
// ends at a line feed, and a carriage return just before the line feed belongs
// to the line end (as the client reads it). Any other carriage return is part
// of the line. A line of more bytes than the limit before its line feed is not
// kept in memory: only its length is reported, once its end has arrived.
class LineReader
{
public:
    struct Line
    {
        // Without the line end; empty for an overlong line.
        QByteArray text;
        // "\n" or "\r\n" as it arrived; empty for the unfinished rest that
        // finish() returns.
        QByteArray end;
        // The length of an overlong line, 0 for a kept one.
        qint64 droppedLength = 0;

        bool isDropped() const { return droppedLength > 0; }
    };

    explicit LineReader(qint64 maxLength) : maxLength(maxLength) {}

    QVector<Line> append(const QByteArray &bytes);
    // What has arrived since the last line end, as a last line (nothing if
    // nothing has): the end of a file need not end a line.
    QVector<Line> finish();
    // What has arrived since the last line end.
    qint64 unfinishedLength() const { return droppedLength > 0 ? droppedLength : pending.size(); }

private:
    void addToUnfinished(const char *begin, qint64 length);
    Line takeUnfinished(const QByteArray &end);

    const qint64 maxLength;
    QByteArray pending;
    qint64 droppedLength = 0;
};

#endif // LINEREADER_H
