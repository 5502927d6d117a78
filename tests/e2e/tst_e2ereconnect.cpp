#include "desktopsession.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

const QByteArray firstUnit = "0 {\"autopilot\":{\"text\":\"████████████████████\"}}\n";
const QByteArray secondUnit =
    "0 {\"autopilot\":{\"text\":\"████████████████████\\n\\n\\n\\n\\n\\n\\n████████████████████\"}}\n";

// The client tries again every 5 s; allow for the connection itself.
constexpr int reconnectLimitMs = 5500;

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

QTEST_GUILESS_MAIN(TestE2eReconnect)
#include "tst_e2ereconnect.moc"
