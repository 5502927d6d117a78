#include "unitscript.h"

#include "debugcommunicator.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

const qint64 UnitScript::maxLineBytes = DebugCommunicator::MaxLineLength + 64;

bool UnitScript::parseStep(const ScriptFile::Line &line, Step *step, QString *problem)
{
    const QByteArray &text = line.text;
    const int gap = text.indexOf(' ');
    bool isNumber = false;
    const int delay = text.left(gap).toInt(&isNumber);
    if (gap < 0 || !isNumber || delay < 0 || delay > UnitScript::maxDelayMs) {
        *problem = QStringLiteral("expected \"<delay-ms> <json>\" with a delay from 0 to %1")
                       .arg(UnitScript::maxDelayMs);
        return false;
    }
    QByteArray json = text.mid(gap + 1);
    int client = 1;
    // A recording marks the steps of its second and later clients.
    if (json.startsWith('@')) {
        const int jsonStart = json.indexOf(' ');
        client = json.mid(1, jsonStart - 1).toInt(&isNumber);
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
    *step = { delay, "UI:" + json + (line.end.isEmpty() ? QByteArray("\n") : line.end), client };
    return true;
}

bool UnitScript::parse(const QByteArray &text, QString *error)
{
    QVector<Step> parsed;
    int faultyLine = 0;
    QString problem;
    if (!ScriptFile::readSteps(text, maxLineBytes, &UnitScript::parseStep, &parsed, &faultyLine, &problem)) {
        *error = QStringLiteral("line %1: %2").arg(faultyLine).arg(problem);
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
