#include "scriptfile.h"

#include "linereader.h"


namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

bool ScriptFile::parse(const QByteArray &bytes, qint64 maxLineBytes, Comments comments, int *overlongLine)
{
    // Some editors start a UTF-8 file with a byte-order mark.
    const QByteArray byteOrderMark("\xEF\xBB\xBF");
    const QByteArray body = bytes.startsWith(byteOrderMark) ? bytes.mid(byteOrderMark.size()) : bytes;
    LineReader reader(maxLineBytes);
    QVector<LineReader::Line> read = reader.append(body);
    read += reader.finish();
    QVector<Line> kept;
    for (int i = 0; i < read.size(); ++i) {
        const LineReader::Line &line = read.at(i);
        if (line.isDropped()) {
            *overlongLine = i + 1;
            return false;
        }
        int start = 0;
        while (start < line.text.size() && isBlank(line.text.at(start)))
            ++start;
        const Line scriptLine{ i + 1, line.text.mid(start), line.end };
        if (scriptLine.text.isEmpty() || (comments == Comments::Skip && scriptLine.isComment()))
            continue;
        kept.append(scriptLine);
    }
    fileLines = kept;
    return true;
}
