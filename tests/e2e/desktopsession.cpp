#include "desktopsession.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace {

const char windowTitle[] = "Экран ВЕЛМО-КС v5";

template<typename Check>
bool waitFor(Check check)
{
    const QDeadlineTimer deadline(DesktopSession::waitMs);
    while (!deadline.hasExpired()) {
        if (check())
            return true;
        QThread::msleep(100);
    }
    return check();
}

void killAndWait(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(DesktopSession::waitMs);
}

} // namespace

DesktopSession::DesktopSession(const QString &display, const QString &unitAddress)
    : display(display)
    , address(unitAddress)
{
}

DesktopSession::~DesktopSession()
{
    killAndWait(client);
    emulator.stop();
    killAndWait(xvfb);
}

bool DesktopSession::startDisplay()
{
    xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    xvfb.start("Xvfb", { display, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset" });
    if (!xvfb.waitForStarted(waitMs))
        return fail("Xvfb did not start: " + xvfb.errorString());
    const bool up = waitFor([this] {
        return xvfb.state() == QProcess::Running && !runTool("xprop", { "-root", "-len", "1" }).isNull();
    });
    return up || fail("display " + display + " did not come up");
}

bool DesktopSession::startEmulator(const QStringList &arguments)
{
    return emulator.start(QStringList{ "--listen", address } + arguments)
        || fail("emulator did not start: " + emulator.errorOutput());
}

bool DesktopSession::startClient()
{
    const QString executable = folder.filePath("VelmoScreen");
    QFile::remove(executable);
    if (!QFile::copy(QStringLiteral(VELMO_CLIENT_PATH), executable))
        return fail("cannot copy the client to " + executable);
    QFile settings(folder.filePath("VelmoScreen.ini"));
    if (!settings.open(QIODevice::WriteOnly))
        return fail("cannot write " + settings.fileName());
    settings.write("[connection]\nremoteIp=" + address.toUtf8() + "\n");
    settings.close();

    client.setProcessEnvironment(displayEnvironment());
    client.setProcessChannelMode(QProcess::ForwardedChannels);
    client.start(executable, QStringList{});
    if (!client.waitForStarted(waitMs))
        return fail("client did not start: " + client.errorString());
    const bool shown = waitFor([this] {
        window = QString::fromUtf8(
            runTool("xdotool", { "search", "--onlyvisible", "--name", windowTitle }).trimmed());
        return !window.isEmpty() && !window.contains('\n');
    });
    if (!shown)
        return fail("no window titled " + QString::fromUtf8(windowTitle));
    // There is no window manager on the display to give the window focus.
    return !runTool("xdotool", { "windowfocus", "--sync", window }).isNull()
        || fail("cannot focus the client window");
}

QByteArray DesktopSession::runTool(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.setProcessEnvironment(displayEnvironment());
    tool.start(program, arguments);
    if (!tool.waitForFinished(waitMs)) {
        killAndWait(tool);
        return {};
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return {};
    QByteArray output = tool.readAllStandardOutput();
    return output.isNull() ? QByteArray("") : output;
}

bool DesktopSession::pressKeys(const QStringList &keys)
{
    return !runTool("xdotool", QStringList{ "key", "--delay", "40" } + keys).isNull();
}

QImage DesktopSession::grabWindow()
{
    const QByteArray png = runTool("import", { "-window", window, "png:-" });
    return QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32);
}

QString DesktopSession::writeScript(const QByteArray &text)
{
    QFile file(folder.filePath("screens.txt"));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    return file.fileName();
}

bool DesktopSession::fail(const QString &message)
{
    lastError = message;
    return false;
}

QProcessEnvironment DesktopSession::displayEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    environment.remove("QT_QPA_PLATFORM");
    environment.remove("WAYLAND_DISPLAY");
    return environment;
}
