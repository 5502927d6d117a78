#ifndef DESKTOPSESSION_H
#define DESKTOPSESSION_H

#include "clientprocess.h"
#include "emulatorprocess.h"
#include "pixels.h"
#include "xvfbserver.h"

#include <QImage>
#include <QTemporaryDir>

// A private Xvfb display with the real client on it, pointed at the real
// emulator on a loopback address of the test's own. Everything it starts is
// killed when it goes out of scope.
class DesktopSession
{
public:
    static constexpr int waitMs = 10000;

    DesktopSession(int displayNumber, const QString &unitAddress);
    ~DesktopSession();
    DesktopSession(const DesktopSession &) = delete;
    DesktopSession &operator=(const DesktopSession &) = delete;

    bool startDisplay();
    // Adds --listen with the session's address to `arguments`.
    bool startEmulator(const QStringList &arguments);
    // Starts the client from a copy beside its own settings file and waits
    // for its window; the window then has the keyboard focus.
    bool startClient();

    // Runs an X tool on the session's display and returns what it printed,
    // or a null array when it failed.
    QByteArray runTool(const QString &program, const QStringList &arguments) const;
    bool pressKeys(const QStringList &keys);
    // Presses one key through an xdotool that keeps running and reads its
    // commands as they come, so that no tool start lies in a timed key's way.
    bool typeKeyAtOnce(const QString &key);
    QImage grabWindow();
    QString windowId() const { return window; }
    // As the operator closes it; the client then ends.
    bool closeWindow();
    ClientProcess &clientProcess() { return client; }
    // The client under test is a Windows build, run through Wine.
    bool runsWindowsClient() const;

    // A script file in the session's folder, for --script.
    QString writeScript(const QByteArray &text);

    EmulatorProcess emulator;
    QString lastError;

private:
    bool fail(const QString &message);

    const QString address;
    QTemporaryDir folder;
    // Declared before the client, so the client ends before its display.
    XvfbServer x;
    ClientProcess client;
    QString window;
    QProcess keyboard;
};

#endif // DESKTOPSESSION_H
