#ifndef SESSIONRECORDER_H
#define SESSIONRECORDER_H

#include "linereader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <functional>

// Writes a relayed session as a script that the emulator can play back: each
// screen the unit sends is a step "<delay-ms> <json>", the JSON and the line
// end as the unit sent them, and everything else (the lines the client sends,
// unit lines that are not screens, connections and failures) a comment
// "# <ms> ..." with the time since the first client connected. Lines of the
// second and later clients carry "@<client>" after the delay or time. Every
// line goes to the file as soon as it is complete, so a recorder that is
// killed leaves all it has seen.
class SessionRecorder
{
public:
    // Milliseconds from any fixed origin.
    using Clock = std::function<qint64()>;

    // Without a clock the recorder uses a monotonic one of its own.
    explicit SessionRecorder(Clock clock = {});

    bool open(const QString &fileName, const QString &unitName, QString *error);

    void clientConnected(int client, const QString &peerName);
    void unitLine(int client, const LineReader::Line &line);
    void clientLine(int client, const QByteArray &line);
    void event(int client, const QString &text);

private:
    qint64 elapsedMs() const;
    QByteArray timeAndClient(qint64 ms, int client) const;
    void writeStep(int client, const QByteArray &payload, const QByteArray &lineEnd);
    void writeComment(qint64 ms, int client, const QByteArray &text);
    void writeLine(const QByteArray &line, const QByteArray &lineEnd = "\n");

    QFile file;
    QElapsedTimer ownClock;
    const Clock clock;
    // The clock's reading when the first client connected; -1 before.
    qint64 startMs = -1;
    // Where the last step ended, in whole ms since the start; each delay is
    // counted from it, so rounding does not add up over a session.
    qint64 lastStepMs = 0;
    bool writeFailed = false;
};

#endif // SESSIONRECORDER_H
