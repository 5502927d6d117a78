#include "desktopsession.h"
#include "firewall.h"

#include <QElapsedTimer>
#include <QtTest>

#include <signal.h>

namespace {

const QByteArray firstUnit = "0 {\"autopilot\":{\"text\":\"████████████████████\"}}\n";
const QByteArray secondUnit =
    "0 {\"autopilot\":{\"text\":\"████████████████████\\n\\n\\n\\n\\n\\n\\n████████████████████\"}}\n";

// The client tries again every 5 s; allow for the connection itself.
constexpr int reconnectLimitMs = 5500;
constexpr quint16 unitPort = 21953;

int bandCount(const QImage &image)
{
    return Pixels::bands(image, Pixels::text).size();
}

} // namespace

// The unit goes away and comes back while the client runs.
class TestE2eReconnect : public QObject
{
    Q_OBJECT

private slots:
    void clientComesBackToRestartedUnit();
    void keyInFlightAtClientEndNeverArrives_data();
    void keyInFlightAtClientEndNeverArrives();

private:
    DesktopSession session{ 143, "127.0.0.43" };
};

void TestE2eReconnect::clientComesBackToRestartedUnit()
{
    QVERIFY2(session.startDisplay(), qPrintable(session.lastError));
    QVERIFY2(session.startEmulator({ "--script", session.writeScript(firstUnit) }),
             qPrintable(session.lastError));
    QVERIFY2(session.startClient(), qPrintable(session.lastError));
    QTRY_COMPARE_WITH_TIMEOUT(bandCount(session.grabWindow()), 1, DesktopSession::waitMs);

    session.emulator.stop();
    // Let the client notice, so that the restarted unit finds it retrying.
    QTest::qWait(1000);
    QVERIFY2(session.startEmulator({ "--script", session.writeScript(secondUnit) }),
             qPrintable(session.lastError));
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    QTRY_COMPARE_WITH_TIMEOUT(session.emulator.connectionCount(), 1, DesktopSession::waitMs);
    QVERIFY2(sinceRestart.elapsed() <= reconnectLimitMs, qPrintable(QString::number(sinceRestart.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(bandCount(session.grabWindow()), 2, DesktopSession::waitMs);
}

void TestE2eReconnect::keyInFlightAtClientEndNeverArrives_data()
{
    QTest::addColumn<bool>("windowClosed"); // else the process is killed
    QTest::newRow("window closed") << true;
    QTest::newRow("process killed") << false;
}

// A key typed into a stalled path just before the client ends must not reach
// the unit when the path comes back, 5 s after the press.
void TestE2eReconnect::keyInFlightAtClientEndNeverArrives()
{
    QFETCH(bool, windowClosed);
    if (!inPrivateNetwork())
        QFAIL("this test changes the firewall: run it in a network namespace of its own, "
              "through tests/private-network.sh as ctest does");
    const QString address = QStringLiteral("127.0.0.46");
    DesktopSession stalled{ 146, address };
    QVERIFY2(stalled.startDisplay(), qPrintable(stalled.lastError));
    // A quiet unit: a screen arriving at a closed connection would reset it,
    // and the key with it.
    QVERIFY2(stalled.startEmulator({ "--script", stalled.writeScript(firstUnit) }), qPrintable(stalled.lastError));
    QVERIFY2(stalled.startClient(), qPrintable(stalled.lastError));
    QTRY_COMPARE_WITH_TIMEOUT(stalled.emulator.connectionCount(), 1, DesktopSession::waitMs);
    // The keyboard reaches the unit while the path is open.
    QVERIFY(stalled.pressKeys({ "Up" }));
    QTRY_COMPARE_WITH_TIMEOUT(stalled.emulator.receivedLines(), QByteArrayList{ "KBD:UP" }, DesktopSession::waitMs);

    Firewall firewall;
    QVERIFY(firewall.dropPacketsTo(address, unitPort));
    QVERIFY(stalled.pressKeys({ "space" }));
    QElapsedTimer sincePress;
    sincePress.start();
    QTest::qWait(500);
    if (windowClosed)
        QVERIFY2(stalled.closeWindow(), qPrintable(stalled.lastError));
    else
        QCOMPARE(::kill(pid_t(stalled.clientProcess().pid()), SIGKILL), 0);
    QVERIFY(stalled.clientProcess().waitForExit(DesktopSession::waitMs));
    QCOMPARE(stalled.clientProcess().exitStatus() == QProcess::NormalExit, windowClosed);
    QTest::qWait(int(qMax<qint64>(0, 5000 - sincePress.elapsed())));
    QVERIFY(firewall.clear());

    // A key still on its way would come now, sent again 6.2 s after the press.
    QVERIFY2(!QTest::qWaitFor([&] { return stalled.emulator.receivedLines().size() > 1; }, 4000),
             qPrintable(QStringLiteral("the key arrived %1 ms after the press").arg(sincePress.elapsed())));
}

QTEST_GUILESS_MAIN(TestE2eReconnect)
#include "tst_e2ereconnect.moc"
