#include "sessionrecorder.h"

#include <QDateTime>
#include <QJsonDocument>

#include <cstdio>

namespace {

// The payload of a "UI:" line when it can be a step of a script, that is when
// the script reader will take it: a JSON object.
QByteArray screenPayload(const QByteArray &line)
{
    if (!line.startsWith("UI:"))
        return {};
    const QByteArray payload = line.mid(3).trimmed();
    return QJsonDocument::fromJson(payload).isObject() ? payload : QByteArray();
}

} // namespace

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
    if (!clock.isValid())
        clock.start();
    event(client, QStringLiteral("client %1 connected").arg(peerName));
}

void SessionRecorder::unitLine(int client, const QByteArray &line)
{
    const QByteArray payload = screenPayload(line);
    if (payload.isEmpty()) {
        writeComment(client, "unit: " + line);
        return;
    }
    const qint64 now = clock.elapsed();
    writeLine(timeAndClient(now - lastStepMs, client) + ' ' + payload);
    lastStepMs = now;
}

void SessionRecorder::clientLine(int client, const QByteArray &line)
{
    writeComment(client, line);
}

void SessionRecorder::event(int client, const QString &text)
{
    writeComment(client, "-- " + text.toUtf8());
}

QByteArray SessionRecorder::timeAndClient(qint64 ms, int client) const
{
    QByteArray text = QByteArray::number(ms);
    if (client > 1)
        text += " @" + QByteArray::number(client);
    return text;
}

void SessionRecorder::writeComment(int client, const QByteArray &text)
{
    writeLine("# " + timeAndClient(clock.elapsed(), client) + ' ' + text);
}

void SessionRecorder::writeLine(const QByteArray &line)
{
    // One write a line on an unbuffered file: the line is with the system as
    // soon as this returns.
    if (file.write(line + '\n') < 0 && !writeFailed) {
        writeFailed = true;
        std::fprintf(stderr, "cannot write the recording %s: %s\n", qPrintable(file.fileName()),
                     qPrintable(file.errorString()));
    }
}
