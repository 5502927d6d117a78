#ifndef SESSIONRECORDER_H
#define SESSIONRECORDER_H

#include <QElapsedTimer>
#include <QFile>
#include <QString>

// Writes a relayed session as a script that the emulator can play back: each
// screen the unit sends is a step "<delay-ms> <json>", and everything else
// (the lines the client sends, unit lines that are not screens, connections
// and failures) a comment "# <ms> ..." with the time since the first client
// connected. Lines of the second and later clients carry "@<client>" after the
// delay or time. Every line goes to the file as soon as it is complete, so a
// recorder that is killed leaves all it has seen.
class SessionRecorder
{
public:
    bool open(const QString &fileName, const QString &unitName, QString *error);

    void clientConnected(int client, const QString &peerName);
    void unitLine(int client, const QByteArray &line);
    void clientLine(int client, const QByteArray &line);
    void event(int client, const QString &text);

private:
    QByteArray timeAndClient(qint64 ms, int client) const;
    void writeComment(int client, const QByteArray &text);
    void writeLine(const QByteArray &line);

    QFile file;
    QElapsedTimer clock;
    // Where the last step ended, in whole ms since the clock started; each
    // delay is counted from it, so rounding does not add up over a session.
    qint64 lastStepMs = 0;
    bool writeFailed = false;
};

#endif // SESSIONRECORDER_H
