#include "unitscript.h"

#include "debugcommunicator.h"
#include "linereader.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

const qint64 UnitScript::maxLineBytes = DebugCommunicator::MaxLineLength + 64;

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// The position of the first byte that is not blank.
int skipBlanks(const QByteArray &text)
{
    int i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    return i;
}

bool parseStep(const LineReader::Line &line, UnitScript::Step *step, QString *problem)
{
    const QByteArray text = line.text.mid(skipBlanks(line.text));
    const int gap = text.indexOf(' ');
    bool isNumber = false;
    const int delay = text.left(gap).toInt(&isNumber);
    if (gap < 0 || !isNumber || delay < 0 || delay > UnitScript::maxDelayMs) {
        *problem = QStringLiteral("expected \"<delay-ms> <json>\" with a delay from 0 to %1")
                       .arg(UnitScript::maxDelayMs);
        return false;
    }
    QByteArray json = text.mid(gap + 1);
    // A recording marks the steps of its second and later clients.
    if (json.startsWith('@')) {
        const int jsonStart = json.indexOf(' ');
        const int client = json.mid(1, jsonStart - 1).toInt(&isNumber);
        if (jsonStart < 0 || !isNumber || client < 1) {
            *problem = QStringLiteral("expected a client number after \"@\"");
            return false;
        }
        json = json.mid(jsonStart + 1);
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        *problem = parseError.errorString();
        return false;
    }
    if (!document.isObject()) {
        *problem = QStringLiteral("the message must be a JSON object");
        return false;
    }
    // Sent as written, so that a script controls the exact bytes on the wire
    // (member order and white space included); the last line of a file may
    // have no end of its own.
    *step = { delay, "UI:" + json + (line.end.isEmpty() ? QByteArray("\n") : line.end) };
    return true;
}

} // namespace

bool UnitScript::parse(const QByteArray &text, QString *error)
{
    // Some editors start a UTF-8 file with a byte-order mark.
    const QByteArray byteOrderMark("\xEF\xBB\xBF");
    const QByteArray body = text.startsWith(byteOrderMark) ? text.mid(byteOrderMark.size()) : text;
    LineReader reader(maxLineBytes);
    QVector<LineReader::Line> lines = reader.append(body);
    lines += reader.finish();
    QVector<Step> parsed;
    for (int i = 0; i < lines.size(); ++i) {
        const LineReader::Line &line = lines.at(i);
        QString problem;
        if (line.isDropped()) {
            problem = QStringLiteral("longer than %1 bytes").arg(maxLineBytes);
        } else {
            const int start = skipBlanks(line.text);
            if (start == line.text.size() || line.text.at(start) == '#')
                continue;
            Step step;
            if (parseStep(line, &step, &problem)) {
                parsed.append(step);
                continue;
            }
        }
        *error = QStringLiteral("line %1: %2").arg(i + 1).arg(problem);
        return false;
    }
    if (parsed.isEmpty()) {
        *error = QStringLiteral("the script has no screens");
        return false;
    }
    scriptSteps = parsed;
    return true;
}

bool UnitScript::load(const QString &fileName, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(fileName, file.errorString());
        return false;
    }
    QString problem;
    if (!parse(file.readAll(), &problem)) {
        *error = QStringLiteral("%1: %2").arg(fileName, problem);
        return false;
    }
    return true;
}
