#ifndef XVFBSERVER_H
#define XVFBSERVER_H

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

// A private X server for one test or measurement, with the few X tools the
// checks need: finding a program's window, grabbing it, typing into it.
// The server ends with the object.
class XvfbServer
{
public:
    explicit XvfbServer(int displayNumber);
    ~XvfbServer();

    bool start(QString *error);
    QString display() const { return QStringLiteral(":%1").arg(number); }
    // The environment for a Qt program that should open its windows here.
    QProcessEnvironment environment() const;

    // The visible top-level window of process `pid` whose title holds
    // `title`, or an empty string when none appears within `timeoutMs`.
    QString findWindow(qint64 pid, const QString &title, int timeoutMs) const;
    QImage grabWindow(const QString &windowId) const;
    // Focuses the window and presses one key (xdotool key name) on it.
    bool typeKey(const QString &windowId, const QString &key) const;

private:
    bool runTool(const QString &program, const QStringList &arguments, QByteArray *output = nullptr) const;

    int number;
    QProcess server;
};

#endif // XVFBSERVER_H
