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
    // Tries `candidates` display numbers from `firstDisplay` on and keeps the
    // first free one, so that runs from several build folders can overlap.
    explicit XvfbServer(int firstDisplay, int candidates = 1,
                        const QString &screen = QStringLiteral("1280x1024x24"));
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    bool start(QString *error);
    QString display() const { return QStringLiteral(":%1").arg(number); }
    // The environment for a Qt program that should open its windows here.
    QProcessEnvironment environment() const;

    // The first visible top-level window whose title matches the regular
    // expression `title` (and that belongs to process `pid`, if given), or an
    // empty string when none appears within `timeoutMs`.
    QString findWindow(const QString &title, qint64 pid = 0, int timeoutMs = 0) const;
    QImage grabWindow(const QString &windowId) const;
    // There is no window manager on the display to give a window the focus.
    bool focusWindow(const QString &windowId) const;
    // Focuses the window and presses one key (xdotool key name) on it.
    bool typeKey(const QString &windowId, const QString &key) const;
    bool xdotool(const QStringList &arguments) const;
    // Asks the window's program to close it, as a window manager does when
    // the operator clicks the window's close button.
    bool closeWindow(const QString &windowId) const;

    // Runs an X tool on the display and returns what it printed, or a null
    // array when it failed.
    QByteArray runTool(const QString &program, const QStringList &arguments) const;

private:
    bool startOn(int displayNumber);

    const int firstNumber;
    const int candidates;
    const QString screen;
    int number;
    QProcess server;
};

#endif // XVFBSERVER_H
