#include "unitscript.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

bool parseStep(const QByteArray &line, UnitScript::Step *step, QString *problem)
{
    const int gap = line.indexOf(' ');
    bool isNumber = false;
    const int delay = line.left(gap).toInt(&isNumber);
    if (gap < 0 || !isNumber || delay < 0 || delay > UnitScript::maxDelayMs) {
        *problem = QStringLiteral("expected \"<delay-ms> <json>\" with a delay from 0 to %1")
                       .arg(UnitScript::maxDelayMs);
        return false;
    }
    QByteArray json = line.mid(gap + 1).trimmed();
    // A recording marks the steps of its second and later clients.
    if (json.startsWith('@')) {
        const int jsonStart = json.indexOf(' ');
        const int client = json.mid(1, jsonStart - 1).toInt(&isNumber);
        if (jsonStart < 0 || !isNumber || client < 1) {
            *problem = QStringLiteral("expected a client number after \"@\"");
            return false;
        }
        json = json.mid(jsonStart + 1).trimmed();
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
    // (member order included).
    *step = { delay, "UI:" + json + '\n' };
    return true;
}

} // namespace

bool UnitScript::parse(const QByteArray &text, QString *error)
{
    // Some editors start a UTF-8 file with a byte-order mark.
    const QByteArray byteOrderMark("\xEF\xBB\xBF");
    const QByteArray body = text.startsWith(byteOrderMark) ? text.mid(byteOrderMark.size()) : text;
    QVector<Step> parsed;
    const QList<QByteArray> lines = body.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        Step step;
        QString problem;
        if (!parseStep(line, &step, &problem)) {
            *error = QStringLiteral("line %1: %2").arg(i + 1).arg(problem);
            return false;
        }
        parsed.append(step);
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
