#include "recordingconverter.h"

#include "debugcommunicator.h"
#include "screenstate.h"
#include "scriptfile.h"
#include "unitkeys.h"
#include "unitscreens.h"
#include "unitscript.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringList>

namespace RecordingConverter {

namespace {

QString jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{ text }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// The text under each run of '*' in the mask, row by row.
QStringList blinkingRuns(const QString &text, const QString &mask)
{
    const QStringList rows = text.split(QLatin1Char('\n'));
    const QStringList maskRows = mask.split(QLatin1Char('\n'));
    QStringList runs;
    for (int row = 0; row < rows.size() && row < maskRows.size(); ++row) {
        static const QRegularExpression run(QStringLiteral("\\*+"));
        auto matches = run.globalMatch(maskRows.at(row));
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            const QString shown = rows.at(row).mid(match.capturedStart(), match.capturedLength());
            if (!shown.trimmed().isEmpty())
                runs << shown;
        }
    }
    return runs;
}

// An expectation for every row that shows something and differs from the
// row expected before it, and for each field that blinks once the blinking
// fields changed.
QStringList screenExpectations(const QString &screen, const QString &text, const QString &mask,
                               const QString &previousText, const QString &previousMask)
{
    QStringList steps;
    const QStringList rows = text.split(QLatin1Char('\n'));
    const QStringList previousRows = previousText.split(QLatin1Char('\n'));
    for (int i = 0; i < rows.size(); ++i) {
        const QString &row = rows.at(i);
        const bool changed = i >= previousRows.size() || previousRows.at(i) != row;
        if (changed && !row.trimmed().isEmpty())
            steps << QStringLiteral("expect %1 %2").arg(screen, jsonString(row));
    }
    const QStringList runs = blinkingRuns(text, mask);
    if (runs == blinkingRuns(previousText, previousMask))
        return steps;
    for (const QString &run : runs)
        steps << QStringLiteral("expect %1 blinking %2").arg(screen, jsonString(run));
    return steps;
}

QStringList changes(const UnitScreens &before, const UnitScreens &now, bool first)
{
    const QString autopilot = QStringLiteral("autopilot");
    QStringList steps = screenExpectations(autopilot, now.autopilotText, now.autopilotMask, before.autopilotText,
                                           before.autopilotMask);
    const bool msgChanged = first || now.msgVisible != before.msgVisible || now.msgIsAlarm != before.msgIsAlarm
        || (now.msgVisible && (now.msgText != before.msgText || now.msgMask != before.msgMask));
    if (!msgChanged)
        return steps;
    if (!now.msgVisible)
        return steps << QStringLiteral("expect msg hidden");
    steps << (now.msgIsAlarm ? QStringLiteral("expect msg alarm") : QStringLiteral("expect msg shown"));
    if (!now.msgIsAlarm && before.msgIsAlarm)
        steps << QStringLiteral("expect-not msg alarm");
    // A message screen shown again is checked whole.
    const bool wasShown = before.msgVisible;
    return steps << screenExpectations(QStringLiteral("msg"), now.msgText, now.msgMask,
                                       wasShown ? before.msgText : QString(), wasShown ? before.msgMask : QString());
}

// "# <ms> KBD:<key>" as the recorder writes the first client's lines.
bool parseKey(const QByteArray &comment, qint64 *ms, QString *key)
{
    static const QRegularExpression keyLine(QStringLiteral("^#\\s*(\\d+)\\s+KBD:(.*)$"));
    const QRegularExpressionMatch match = keyLine.match(QString::fromUtf8(comment));
    if (!match.hasMatch())
        return false;
    *ms = match.captured(1).toLongLong();
    *key = match.captured(2);
    return true;
}

class Converter
{
public:
    Converter() { state.follow(&decoder); }

    void screen(const QByteArray &uiLine)
    {
        decoder.onUIMsg(uiLine.mid(3).trimmed());
    }

    void key(qint64 ms, const QString &name)
    {
        expectChanges();
        if (ms > lastKeyMs)
            steps << QStringLiteral("wait %1").arg(ms - lastKeyMs);
        steps << QStringLiteral("key %1").arg(name);
        lastKeyMs = qMax(ms, lastKeyMs);
    }

    void expectChanges()
    {
        if (!state.hasScreens())
            return;
        steps << changes(expected, state.screens(), !expectedAny);
        expected = state.screens();
        expectedAny = true;
    }

    QStringList steps;

private:
    DebugCommunicator decoder;
    ScreenState state;
    // What the steps so far expect: at first nothing, so the first screens
    // are expected whole.
    UnitScreens expected;
    bool expectedAny = false;
    qint64 lastKeyMs = 0;
};

} // namespace

bool convert(const QString &recordingFile, QString *script, QString *error)
{
    QFile file(recordingFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(recordingFile, file.errorString());
        return false;
    }
    ScriptFile recording;
    int overlongLine = 0;
    if (!recording.parse(file.readAll(), UnitScript::maxLineBytes, ScriptFile::Comments::Keep, &overlongLine)) {
        *error = QStringLiteral("%1:%2: longer than %3 bytes").arg(recordingFile).arg(overlongLine).arg(UnitScript::maxLineBytes);
        return false;
    }
    Converter converter;
    for (const ScriptFile::Line &line : recording.lines()) {
        qint64 ms = 0;
        QString key;
        if (line.isComment()) {
            // Lines of later clients carry "@N" and do not match.
            if (parseKey(line.text, &ms, &key) && UnitKeys::isKey(key))
                converter.key(ms, key);
            continue;
        }
        UnitScript::Step step;
        QString problem;
        if (!UnitScript::parseStep(line, &step, &problem)) {
            *error = QStringLiteral("%1:%2: %3").arg(recordingFile).arg(line.number).arg(problem);
            return false;
        }
        if (step.client == 1)
            converter.screen(step.uiLine);
    }
    converter.expectChanges();
    if (converter.steps.isEmpty()) {
        *error = QStringLiteral("%1: the recording holds no screens").arg(recordingFile);
        return false;
    }
    *script = QStringLiteral("# Made by velmo-drive --from-recording %1.\n"
                             "# Delete the steps that change from run to run (clocks, live readings).\n")
                  .arg(recordingFile)
        + converter.steps.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return true;
}

} // namespace RecordingConverter
