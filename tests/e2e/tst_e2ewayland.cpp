#include "clientprocess.h"
#include "emulatorprocess.h"
#include "xvfbserver.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int waitMs = 15000;
const char unitAddress[] = "127.0.0.188";
const char socketName[] = "velmo-e2e-wayland";

} // namespace

// The client in a Wayland session, as a user starts it there: weston with
// XWayland, on an Xvfb display of its own that carries the compositor's
// output. The window state requests that the compositor's title bar buttons
// and key bindings make are sent to the client's window on XWayland.
class TestE2eWayland : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void compositorActionsKeepTheClient_data();
    void compositorActionsKeepTheClient();
    void cleanupTestCase();

private:
    bool startCompositor(QByteArray *log);
    QProcessEnvironment sessionEnvironment() const;
    QByteArray xwaylandTool(const QString &program, const QStringList &arguments) const;
    QString findClientWindow() const;
    QSize clientWindowSize() const;

    QTemporaryDir runtimeDir;
    XvfbServer x{ 188 };
    QProcess weston;
    QString xwaylandDisplay;
    QString clientWindow;
    QSize openingSize;
    EmulatorProcess emulator;
    ClientProcess client{ QStringLiteral(VELMO_CLIENT_PATH), QString::fromLatin1(unitAddress) };
};

void TestE2eWayland::initTestCase()
{
    if (QStandardPaths::findExecutable("weston").isEmpty() || QStandardPaths::findExecutable("Xwayland").isEmpty()
        || QStandardPaths::findExecutable("wmctrl").isEmpty())
        QSKIP("weston, Xwayland or wmctrl is not installed (scripts/setup.sh test): no Wayland session to test in");
    QString error;
    QVERIFY2(x.start(&error), qPrintable(error));
    QByteArray log;
    if (!startCompositor(&log))
        QSKIP(qPrintable("weston did not come up, so nothing was tested:\n" + QString::fromLocal8Bit(log)));

    QVERIFY2(emulator.start({ "--listen", unitAddress }), emulator.errorOutput().constData());
    QVERIFY2(client.start(sessionEnvironment(), &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(emulator.connectionCount(), 1, waitMs);
    // Found only where the client runs through XWayland.
    QTRY_VERIFY2_WITH_TIMEOUT(!(clientWindow = findClientWindow()).isEmpty(),
                              qPrintable("the client's window is not on XWayland; client output:\n"
                                         + QString::fromLocal8Bit(client.logTail())),
                              waitMs);
    openingSize = clientWindowSize();
}

void TestE2eWayland::compositorActionsKeepTheClient_data()
{
    QTest::addColumn<QString>("state"); // _NET_WM_STATE names, as wmctrl takes them
    QTest::addColumn<bool>("enlarged");

    QTest::newRow("maximise") << "maximized_vert,maximized_horz" << true;
    QTest::newRow("restore") << "maximized_vert,maximized_horz" << false;
    QTest::newRow("fullscreen") << "fullscreen" << true;
    QTest::newRow("back from fullscreen") << "fullscreen" << false;
}

void TestE2eWayland::compositorActionsKeepTheClient()
{
    QFETCH(QString, state);
    QFETCH(bool, enlarged);

    xwaylandTool("wmctrl", { "-i", "-r", clientWindow, "-b", "toggle," + state });
    // The compositor has acted once the window has its new size.
    const auto sizeTaken = [&] {
        const QSize size = clientWindowSize();
        return enlarged ? size.width() > openingSize.width() && size.height() > openingSize.height()
                        : size == openingSize;
    };
    QVERIFY2(QTest::qWaitFor(sizeTaken, waitMs), qPrintable(QStringLiteral("window %1x%2 after the request")
                                                               .arg(clientWindowSize().width())
                                                               .arg(clientWindowSize().height())));
    // A protocol error ends the client within the compositor's next frames.
    QTest::qWait(1000);
    QVERIFY2(client.isRunning(), client.logTail().constData());
    QCOMPARE(emulator.connectionCount(), 1);
}

void TestE2eWayland::cleanupTestCase()
{
    client.stop();
    if (weston.state() != QProcess::NotRunning) {
        weston.terminate();
        if (!weston.waitForFinished(5000))
            weston.kill();
        weston.waitForFinished(5000);
    }
}

// weston's output is a window on the Xvfb display; XWayland starts on a
// display number weston picks and announces.
bool TestE2eWayland::startCompositor(QByteArray *log)
{
    QProcessEnvironment env = x.environment();
    env.insert("XDG_RUNTIME_DIR", runtimeDir.path());
    weston.setProcessEnvironment(env);
    weston.setProcessChannelMode(QProcess::MergedChannels);
    weston.start("weston", { "--backend=x11-backend.so", "--use-pixman", "--xwayland", "--idle-time=0",
                             "--width=1024", "--height=768", QString("--socket=") + socketName });
    const QRegularExpression announced("xserver listening on display (:\\d+)");
    const bool ready = QTest::qWaitFor([&] {
        weston.waitForReadyRead(100);
        *log += weston.readAll();
        xwaylandDisplay = announced.match(QString::fromLocal8Bit(*log)).captured(1);
        return !xwaylandDisplay.isEmpty() || weston.state() == QProcess::NotRunning;
    }, waitMs);
    if (ready && !xwaylandDisplay.isEmpty())
        return true;
    weston.kill();
    weston.waitForFinished(5000);
    return false;
}

QByteArray TestE2eWayland::xwaylandTool(const QString &program, const QStringList &arguments) const
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", xwaylandDisplay);
    env.insert("LC_ALL", "C.UTF-8");
    tool.setProcessEnvironment(env);
    tool.start(program, arguments);
    tool.waitForFinished(waitMs);
    return tool.readAllStandardOutput();
}

// Empty while the client has no window on XWayland.
QString TestE2eWayland::findClientWindow() const
{
    return QString::fromLatin1(
        xwaylandTool("xdotool", { "search", "--pid", QString::number(client.pid()), "--name", "ВЕЛМО" }).trimmed());
}

QSize TestE2eWayland::clientWindowSize() const
{
    QMap<QByteArray, int> geometry;
    const QByteArray shell = xwaylandTool("xdotool", { "getwindowgeometry", "--shell", clientWindow });
    for (const QByteArray &line : shell.split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() == 2)
            geometry[pair[0]] = pair[1].toInt();
    }
    return { geometry.value("WIDTH"), geometry.value("HEIGHT") };
}

// A session offering both Wayland and X, and a platform chosen by the
// session type only (as on KDE Plasma or sway), not by the user.
QProcessEnvironment TestE2eWayland::sessionEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.insert("XDG_RUNTIME_DIR", runtimeDir.path());
    env.insert("WAYLAND_DISPLAY", socketName);
    env.insert("DISPLAY", xwaylandDisplay);
    env.insert("XDG_SESSION_TYPE", "wayland");
    env.insert("LC_CTYPE", "C.UTF-8");
    return env;
}

QTEST_GUILESS_MAIN(TestE2eWayland)
#include "tst_e2ewayland.moc"
