// The link on a loopback network that drops packets without a word: a quiet
// unit that is still there, and a connection attempt held open. (A unit that
// vanishes, and outages, are tst_lossylink's, across a link between two
// namespaces.) The packets are dropped by nftables rules, so the test runs in
// a network namespace of its own (see tests/private-network.sh) and refuses
// to run anywhere else.

#include "firewall.h"
#include "linktestsupport.h"

#include <QFile>

namespace {
const char UnitAddress[] = "127.0.0.81";
// The link's first keep-alive probe follows 2 s of silence, stated here on
// its own.
const int ProbePeriodMs = 2000;
}

class TestBlackhole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void quietUnitIsKept();
    void unitAnswersHeldAttempt_data();
    void unitAnswersHeldAttempt();
};

void TestBlackhole::initTestCase()
{
    if (!inPrivateNetwork())
        QFAIL("this test changes the firewall: run it in a network namespace of its own, "
              "through tests/private-network.sh as ctest does");
    // The system's tries of one attempt come ever further apart, as on
    // Linux before 6.6 and elsewhere, rather than a second apart at first.
    QFile linearTries(QStringLiteral("/proc/sys/net/ipv4/tcp_syn_linear_timeouts"));
    if (linearTries.exists())
        QVERIFY2(linearTries.open(QIODevice::WriteOnly) && linearTries.write("0\n") == 2 && linearTries.flush(),
                 qPrintable(linearTries.errorString()));
}

// The unit's stack answers the link's probes however long the unit itself
// says nothing; the probes carry no bytes to it.
void TestBlackhole::quietUnitIsKept()
{
    LinkFixture fixture(UnitAddress);
    QVERIFY(fixture.startConnected());
    Firewall firewall;
    QVERIFY(firewall.countOutgoing(*fixture.linkSocket()));

    QTest::qWait(3 * ProbePeriodMs + ProbePeriodMs / 2);

    QVERIFY2(firewall.outgoingPackets() >= 3, qPrintable(QString::number(firewall.outgoingPackets())));
    QCOMPARE(fixture.linkSocket()->state(), QAbstractSocket::ConnectedState);
    QVERIFY(!fixture.server.hasPendingConnections());
    QCOMPARE(fixture.peer->bytesAvailable(), 0);
    fixture.link.sendKbdPress(QStringLiteral("0"));
    QCOMPARE(fixture.receive(6), QByteArray("KBD:0\n"));
}

void TestBlackhole::unitAnswersHeldAttempt_data()
{
    QTest::addColumn<int>("silentMs");
    QTest::addColumn<int>("connectedWithinMs"); // of the unit's first answer

    // The attempt's next try, about a second after its first, connects well
    // before the next tick would start a new attempt: half a second short of
    // it, so that a connection the tick made cannot count.
    QTest::newRow("unit answers at once") << 0 << CheckIntervalMs - 500;
    // The system's own tries of one attempt come ever further apart (1, 2,
    // 4, 8, 16 s); the link has to try at every tick whatever they do.
    QTest::newRow("unit silent for 16 s") << 16000 << CheckIntervalMs + 1000;
}

// A key typed while the attempt hangs must not reach the unit when an
// attempt goes through after all: by then it is stale. Nor may the key cut
// the attempt short.
void TestBlackhole::unitAnswersHeldAttempt()
{
    QFETCH(int, silentMs);
    QFETCH(int, connectedWithinMs);

    LinkFixture fixture(UnitAddress);
    QVERIFY(fixture.listen());
    Firewall firewall;
    QVERIFY(firewall.dropPacketsTo(fixture.address, UnitPort));
    fixture.link.start(fixture.address);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.linkSocket()->state(), QAbstractSocket::ConnectingState, 15000);

    fixture.link.sendKbdPress(QStringLiteral("PUSK"));
    QTest::qWait(silentMs);
    QVERIFY(firewall.clear());
    QElapsedTimer sinceAnswering;
    sinceAnswering.start();
    QVERIFY(fixture.accept(connectedWithinMs + 10000));
    qInfo("connected %lld ms after the unit answered again", sinceAnswering.elapsed());
    QVERIFY2(sinceAnswering.elapsed() < connectedWithinMs, qPrintable(QString::number(sinceAnswering.elapsed())));
    fixture.link.sendKbdPress(QStringLiteral("1"));
    QCOMPARE(fixture.receive(6), QByteArray("KBD:1\n"));
}

QTEST_GUILESS_MAIN(TestBlackhole)
#include "tst_blackhole.moc"
