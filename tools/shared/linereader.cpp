#include "linereader.h"

#include <cstring>

QVector<LineReader::Line> LineReader::append(const QByteArray &bytes)
{
    QVector<Line> lines;
    const char *begin = bytes.constData();
    const char *const end = begin + bytes.size();
    while (const char *lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)))) {
        addToUnfinished(begin, lineEnd - begin);
        const bool crBeforeLf = droppedLength == 0 && pending.endsWith('\r');
        if (crBeforeLf)
            pending.chop(1);
        lines.append(takeUnfinished(crBeforeLf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n")));
        begin = lineEnd + 1;
    }
    addToUnfinished(begin, end - begin);
    return lines;
}

QVector<LineReader::Line> LineReader::finish()
{
    if (unfinishedLength() == 0)
        return {};
    return { takeUnfinished(QByteArray()) };
}

void LineReader::addToUnfinished(const char *begin, qint64 length)
{
    if (droppedLength == 0 && pending.size() + length <= maxLength) {
        pending.append(begin, int(length));
        return;
    }
    droppedLength += pending.size() + length;
    pending.clear();
}

LineReader::Line LineReader::takeUnfinished(const QByteArray &end)
{
    Line line;
    if (droppedLength > 0) {
        line.droppedLength = droppedLength;
    } else {
        line.text = pending;
        line.end = end;
    }
    pending.clear();
    droppedLength = 0;
    return line;
}
