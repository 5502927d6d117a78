#include "xvfbserver.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

XvfbServer::XvfbServer(int displayNumber)
    : number(displayNumber)
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
    server.start(QStringLiteral("Xvfb"), { display(), QStringLiteral("-screen"), QStringLiteral("0"),
                                           QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                           QStringLiteral("tcp"), QStringLiteral("-noreset") });
    if (!server.waitForStarted(10000)) {
        *error = QStringLiteral("cannot start Xvfb: ") + server.errorString();
        return false;
    }
    // The server is ready once it answers; a display already in use ends it.
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (server.state() == QProcess::NotRunning) {
            *error = QStringLiteral("Xvfb on %1 ended at once (display in use?)").arg(display());
            return false;
        }
        if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
            && runTool(QStringLiteral("xdpyinfo"), { QStringLiteral("-display"), display() }))
            return true;
        QThread::msleep(50);
    }
    *error = QStringLiteral("Xvfb on %1 did not come up").arg(display());
    return false;
}

QProcessEnvironment XvfbServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

QString XvfbServer::findWindow(qint64 pid, const QString &title, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    do {
        QByteArray ids;
        if (runTool(QStringLiteral("xdotool"),
                    { QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                      QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), title },
                    &ids)
            && !ids.trimmed().isEmpty())
            return QString::fromLatin1(ids.trimmed().split('\n').first());
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return QString();
}

QImage XvfbServer::grabWindow(const QString &windowId) const
{
    QByteArray png;
    if (!runTool(QStringLiteral("import"),
                 { QStringLiteral("-display"), display(), QStringLiteral("-window"), windowId,
                   QStringLiteral("png:-") },
                 &png))
        return QImage();
    return QImage::fromData(png, "PNG");
}

bool XvfbServer::typeKey(const QString &windowId, const QString &key) const
{
    return runTool(QStringLiteral("xdotool"),
                   { QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId })
        && runTool(QStringLiteral("xdotool"), { QStringLiteral("key"), key });
}

bool XvfbServer::runTool(const QString &program, const QStringList &arguments, QByteArray *output) const
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display());
    tool.setProcessEnvironment(env);
    tool.start(program, arguments);
    if (!tool.waitForFinished(20000)) {
        tool.kill();
        tool.waitForFinished();
        return false;
    }
    if (output)
        *output = tool.readAllStandardOutput();
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}
