#include "linecollector.h"

#include <cstring>

QVector<LineCollector::Line> LineCollector::append(const QByteArray &bytes)
{
    QVector<Line> lines;
    const char *begin = bytes.constData();
    const char *const end = begin + bytes.size();
    while (const char *lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)))) {
        addToUnfinished(begin, lineEnd - begin);
        Line line;
        if (droppedLength > 0) {
            line.droppedLength = droppedLength;
        } else {
            line.text = pending;
            if (line.text.endsWith('\r'))
                line.text.chop(1);
        }
        lines.append(line);
        pending.clear();
        droppedLength = 0;
        begin = lineEnd + 1;
    }
    addToUnfinished(begin, end - begin);
    return lines;
}

void LineCollector::addToUnfinished(const char *begin, qint64 length)
{
    if (droppedLength == 0 && pending.size() + length <= maxLength) {
        pending.append(begin, int(length));
        return;
    }
    droppedLength += pending.size() + length;
    pending.clear();
}
