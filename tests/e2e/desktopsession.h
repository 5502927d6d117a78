#ifndef DESKTOPSESSION_H
#define DESKTOPSESSION_H

#include "emulatorprocess.h"

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <QVector>

// A private Xvfb display with the real client on it, pointed at the real
// emulator on a loopback address of the test's own. Everything it starts is
// killed when it goes out of scope.
class DesktopSession
{
public:
    static constexpr int waitMs = 10000;

    DesktopSession(const QString &display, const QString &unitAddress);
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
    QByteArray runTool(const QString &program, const QStringList &arguments);
    bool pressKeys(const QStringList &keys);
    QImage grabWindow();
    QString windowId() const { return window; }

    // A script file in the session's folder, for --script.
    QString writeScript(const QByteArray &text);

    EmulatorProcess emulator;
    QString lastError;

private:
    bool fail(const QString &message);
    QProcessEnvironment displayEnvironment() const;

    const QString display;
    const QString address;
    QTemporaryDir folder;
    QProcess xvfb;
    QProcess client;
    QString window;
};

// Pixel statistics of a window screenshot.
namespace Pixels {

constexpr QRgb background = 0xff1c1c1c; // rgb(28,28,28)
constexpr QRgb text = 0xffffffff;
constexpr QRgb alarm = 0xfff00000; // rgb(240,0,0)
constexpr QRgb border = 0xff868686; // rgb(134,134,134)

int count(const QImage &image, QRgb colour, const QRect &area = QRect());

// Horizontal bands of image rows that hold at least `minPerRow` pixels of the
// colour: one band per drawn text row of solid blocks.
struct Band
{
    int top;
    int bottom;
    int left;
    int right;
};
QVector<Band> bands(const QImage &image, QRgb colour, int minPerRow = 20);

} // namespace Pixels

#endif // DESKTOPSESSION_H
