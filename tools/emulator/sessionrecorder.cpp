#include "sessionrecorder.h"

#include "unitscript.h"

#include <QDateTime>
#include <QJsonDocument>

#include <cstdio>

namespace {

// The payload of a "UI:" line, exactly as sent, when it can be a step of a
// script, that is when the client takes it as a screen: a JSON object.
QByteArray screenPayload(const QByteArray &line)
{
    if (!line.startsWith("UI:"))
        return {};
    const QByteArray payload = line.mid(3);
    return QJsonDocument::fromJson(payload).isObject() ? payload : QByteArray();
}

} // namespace

SessionRecorder::SessionRecorder(Clock source)
    : clock(source ? source : [this] { return ownClock.elapsed(); })
{
    ownClock.start();
}

bool SessionRecorder::open(const QString &fileName, const QString &unitName, QString *error)
{
    file.setFileName(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *error = QStringLiteral("cannot create the recording %1: %2").arg(fileName, file.errorString());
        return false;
    }
    const QString started = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    writeLine("# Session with the unit at " + unitName.toUtf8() + ", recorded by velmo-unit-emulator, started "
              + started.toUtf8());
    writeLine("# Play it back with: velmo-unit-emulator --script FILE");
    return true;
}

void SessionRecorder::clientConnected(int client, const QString &peerName)
{
    // One reading of the clock, so that the first client's line is at 0 even
    // when a millisecond turns over in between.
    const qint64 now = clock();
    if (startMs < 0)
        startMs = now;
    writeComment(now - startMs, client, "-- client " + peerName.toUtf8() + " connected");
}

void SessionRecorder::unitLine(int client, const LineReader::Line &line)
{
    const QByteArray payload = screenPayload(line.text);
    if (payload.isEmpty())
        writeComment(elapsedMs(), client, "unit: " + line.text);
    else
        writeStep(client, payload, line.end);
}

void SessionRecorder::clientLine(int client, const QByteArray &line)
{
    writeComment(elapsedMs(), client, line);
}

void SessionRecorder::event(int client, const QString &text)
{
    writeComment(elapsedMs(), client, "-- " + text.toUtf8());
}

qint64 SessionRecorder::elapsedMs() const
{
    return startMs < 0 ? 0 : clock() - startMs;
}

QByteArray SessionRecorder::timeAndClient(qint64 ms, int client) const
{
    QByteArray text = QByteArray::number(ms);
    if (client > 1)
        text += " @" + QByteArray::number(client);
    return text;
}

void SessionRecorder::writeStep(int client, const QByteArray &payload, const QByteArray &lineEnd)
{
    const qint64 now = elapsedMs();
    qint64 delay = now - lastStepMs;
    // A step waits at most a day; a longer pause (a relay left running over a
    // weekend) is bridged by empty messages, which the client takes without
    // a change on its screens.
    if (delay > UnitScript::maxDelayMs) {
        event(client, QStringLiteral("a pause of %1 ms, bridged by empty messages every %2 ms")
                          .arg(delay)
                          .arg(UnitScript::maxDelayMs));
    }
    while (delay > UnitScript::maxDelayMs) {
        writeLine(timeAndClient(UnitScript::maxDelayMs, client) + " {}");
        delay -= UnitScript::maxDelayMs;
    }
    writeLine(timeAndClient(delay, client) + ' ' + payload, lineEnd.isEmpty() ? QByteArray("\n") : lineEnd);
    lastStepMs = now;
}

void SessionRecorder::writeComment(qint64 ms, int client, const QByteArray &text)
{
    writeLine("# " + timeAndClient(ms, client) + ' ' + text);
}

void SessionRecorder::writeLine(const QByteArray &line, const QByteArray &lineEnd)
{
    // One write a line on an unbuffered file: the line is with the system as
    // soon as this returns.
    if (file.write(line + lineEnd) < 0 && !writeFailed) {
        writeFailed = true;
        std::fprintf(stderr, "cannot write the recording %s: %s\n", qPrintable(file.fileName()),
                     qPrintable(file.errorString()));
    }
}
