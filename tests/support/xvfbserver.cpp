#include "xvfbserver.h"

#include <QDeadlineTimer>
#include <QThread>

// Xlib's macros (None, Bool, ...) clash with Qt's names: include it last.
#include <X11/Xlib.h>

namespace {

const int patienceMs = 20000;

} // namespace

XvfbServer::XvfbServer(int firstDisplay, int candidates, const QString &screen)
    : firstNumber(firstDisplay), candidates(candidates), screen(screen), number(firstDisplay)
{
}

XvfbServer::~XvfbServer()
{
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(5000))
            server.kill();
        server.waitForFinished(5000);
    }
}

bool XvfbServer::start(QString *error)
{
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    for (int candidate = firstNumber; candidate < firstNumber + candidates; ++candidate) {
        if (startOn(candidate))
            return true;
    }
    *error = candidates == 1 ? QStringLiteral("Xvfb on :%1 did not come up (display in use?)").arg(firstNumber)
                             : QStringLiteral("no free display for Xvfb in :%1 to :%2")
                                   .arg(firstNumber).arg(firstNumber + candidates - 1);
    return false;
}

bool XvfbServer::startOn(int displayNumber)
{
    number = displayNumber;
    // -displayfd 1: the server writes the display number once it accepts
    // clients, and exits at once when the number is taken. -noreset: by
    // default it resets whenever its last client leaves, refusing
    // connections meanwhile, and every X tool call is such a client.
    server.start(QStringLiteral("Xvfb"), { display(), QStringLiteral("-screen"), QStringLiteral("0"), screen,
                                           QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                           QStringLiteral("-noreset"), QStringLiteral("-displayfd"),
                                           QStringLiteral("1") });
    if (server.waitForStarted(patienceMs) && server.waitForReadyRead(patienceMs))
        return true;
    if (server.state() != QProcess::NotRunning)
        server.kill();
    server.waitForFinished(patienceMs);
    return false;
}

QProcessEnvironment XvfbServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // Window titles reach the X tools readable, Cyrillic included, even when
    // the caller has no locale set (a login shell without LANG, say).
    env.insert(QStringLiteral("LC_CTYPE"), QStringLiteral("C.UTF-8"));
    return env;
}

QString XvfbServer::findWindow(const QString &title, qint64 pid, int timeoutMs) const
{
    QStringList arguments{ QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible") };
    if (pid > 0)
        arguments << QStringLiteral("--pid") << QString::number(pid);
    arguments << QStringLiteral("--name") << title;
    const QDeadlineTimer deadline(timeoutMs);
    forever {
        const QByteArray ids = runTool(QStringLiteral("xdotool"), arguments).trimmed();
        if (!ids.isEmpty())
            return QString::fromLatin1(ids.split('\n').first());
        if (deadline.hasExpired())
            return QString();
        QThread::msleep(100);
    }
}

QImage XvfbServer::grabWindow(const QString &windowId) const
{
    const QByteArray png = runTool(QStringLiteral("import"),
                                   { QStringLiteral("-window"), windowId, QStringLiteral("png:-") });
    return png.isEmpty() ? QImage() : QImage::fromData(png, "PNG");
}

bool XvfbServer::focusWindow(const QString &windowId) const
{
    return xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId });
}

// The key goes in a call of its own after the focus, through the XTEST
// extension as a real keyboard would type it (chained to the focus it would
// be sent as a synthetic event to that window instead).
bool XvfbServer::typeKey(const QString &windowId, const QString &key) const
{
    return focusWindow(windowId) && xdotool({ QStringLiteral("key"), key });
}

bool XvfbServer::xdotool(const QStringList &arguments) const
{
    return !runTool(QStringLiteral("xdotool"), arguments).isNull();
}

// No X tool at hand sends the request (xdotool learnt it only in 2021), and
// there is no window manager on the display to send it either.
bool XvfbServer::closeWindow(const QString &windowId) const
{
    Display *connection = XOpenDisplay(qPrintable(display()));
    if (!connection)
        return false;
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = windowId.toULong();
    request.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    request.xclient.format = 32;
    request.xclient.data.l[0] = long(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    request.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(connection, request.xclient.window, False, NoEventMask, &request) != 0;
    // Closing the connection sends what is still buffered.
    XCloseDisplay(connection);
    return sent;
}

QByteArray XvfbServer::runTool(const QString &program, const QStringList &arguments) const
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display());
    // Window titles are matched and printed as UTF-8 whatever the locale.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    tool.setProcessEnvironment(env);
    tool.start(program, arguments);
    if (!tool.waitForFinished(patienceMs)) {
        tool.kill();
        tool.waitForFinished();
        return QByteArray();
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return QByteArray();
    const QByteArray output = tool.readAllStandardOutput();
    return output.isNull() ? QByteArray("") : output;
}
