#include "desktopsession.h"

#include <QFile>
#include <QTest>

namespace {

const char windowTitle[] = "Экран ВЕЛМО-КС v5";

} // namespace

DesktopSession::DesktopSession(int displayNumber, const QString &unitAddress)
    : address(unitAddress)
    // A larger screen where the client is drawn scaled up, as on a laptop at
    // 150 %, for which Windows would otherwise cut the window to the screen.
    , x(displayNumber, 1, qEnvironmentVariable("VELMO_TEST_SCREEN", QStringLiteral("1024x768x24")))
    , client(ClientProcess::underTest(QStringLiteral(VELMO_CLIENT_PATH)), unitAddress)
{
}

DesktopSession::~DesktopSession()
{
    // At the end of its commands the tool ends by itself.
    keyboard.closeWriteChannel();
    keyboard.waitForFinished();
}

bool DesktopSession::startDisplay()
{
    QString error;
    return x.start(&error) || fail(error);
}

bool DesktopSession::startEmulator(const QStringList &arguments)
{
    return emulator.start(QStringList{ "--listen", address } + arguments)
        || fail("emulator did not start: " + emulator.errorOutput());
}

bool DesktopSession::startClient()
{
    QString error;
    if (!client.start(x.environment(), &error))
        return fail(error);
    window = x.findWindow(QString::fromUtf8(windowTitle), client.pid(), waitMs);
    if (window.isEmpty())
        return fail("no window titled " + QString::fromUtf8(windowTitle) + "; client output:\n"
                    + QString::fromLocal8Bit(client.logTail()));
    if (!x.focusWindow(window))
        return fail("cannot focus the client window");
    // Wine makes the window active for Windows a little after X gave it the
    // focus, and keys before that reach no window; the focus is given again
    // once it is.
    if (runsWindowsClient()) {
        QTest::qWait(1000);
        return x.focusWindow(window) || fail("cannot focus the client window");
    }
    return true;
}

bool DesktopSession::runsWindowsClient() const
{
    return ClientProcess::isWindowsExecutable(ClientProcess::underTest(QStringLiteral(VELMO_CLIENT_PATH)));
}

QByteArray DesktopSession::runTool(const QString &program, const QStringList &arguments) const
{
    return x.runTool(program, arguments);
}

bool DesktopSession::pressKeys(const QStringList &keys)
{
    return x.xdotool(QStringList{ "key", "--delay", "40" } + keys);
}

bool DesktopSession::typeKeyAtOnce(const QString &key)
{
    if (keyboard.state() == QProcess::NotRunning) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), x.display());
        keyboard.setProcessEnvironment(env);
        keyboard.start(QStringLiteral("xdotool"), { QStringLiteral("-") });
        if (!keyboard.waitForStarted())
            return fail("xdotool did not start: " + keyboard.errorString());
    }
    keyboard.write("key " + key.toUtf8() + '\n');
    return keyboard.waitForBytesWritten() || fail("xdotool takes no commands: " + keyboard.errorString());
}

bool DesktopSession::closeWindow()
{
    return x.closeWindow(window) || fail("cannot ask the client to close its window");
}

QImage DesktopSession::grabWindow()
{
    return x.grabWindow(window).convertToFormat(QImage::Format_RGB32);
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
