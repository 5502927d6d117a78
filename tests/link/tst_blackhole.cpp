// The link on a loopback network that drops packets without a word: a quiet
// unit that is still there, and a connection attempt held open. (A unit that
// vanishes, and outages, are tst_lossylink's, across a link between two
// namespaces.) The packets are dropped by nftables rules, so the test runs in
// a network namespace of its own (see tests/private-network.sh) and refuses
// to run anywhere else.

#include "firewall.h"
#include "linktestsupport.h"

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
    void keyDuringHeldAttemptNeverArrives();
};

void TestBlackhole::initTestCase()
{
    if (!inPrivateNetwork())
        QFAIL("this test changes the firewall: run it in a network namespace of its own, "
              "through tests/private-network.sh as ctest does");
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

// A key typed while the attempt hangs must not reach the unit when the
// attempt goes through after all: by then it is stale. Nor may the key cut
// the attempt short: once the packets pass again, the attempt's next try
// (about a second after its first) connects, well before the next tick would
// start a new attempt.
void TestBlackhole::keyDuringHeldAttemptNeverArrives()
{
    LinkFixture fixture(UnitAddress);
    QVERIFY(fixture.listen());
    Firewall firewall;
    QVERIFY(firewall.dropPacketsTo(fixture.address, UnitPort));
    QElapsedTimer sinceStart;
    sinceStart.start();
    fixture.link.start(fixture.address);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.linkSocket()->state(), QAbstractSocket::ConnectingState, 15000);

    fixture.link.sendKbdPress(QStringLiteral("PUSK"));
    QVERIFY(firewall.clear());
    // Half a second short of the tick, so that a connection the tick made
    // cannot count.
    const int beforeTickMs = CheckIntervalMs - 500;
    QVERIFY(fixture.accept(beforeTickMs - int(sinceStart.elapsed())));
    QVERIFY2(sinceStart.elapsed() < beforeTickMs, qPrintable(QString::number(sinceStart.elapsed())));
    fixture.link.sendKbdPress(QStringLiteral("1"));
    QCOMPARE(fixture.receive(6), QByteArray("KBD:1\n"));
}

QTEST_GUILESS_MAIN(TestBlackhole)
#include "tst_blackhole.moc"
