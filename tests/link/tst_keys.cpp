#include "linktestsupport.h"

namespace {
const char ServerAddress[] = "127.0.0.4";
}

class TestKeys : public QObject
{
    Q_OBJECT

private slots:
    void keyLine_data();
    void keyLine();
    void keysArriveInPressOrder();
    void deliveredKeyKeepsTheConnection_data();
    void deliveredKeyKeepsTheConnection();
    void keyWhileUnconnectedIsNotSentLater_data();
    void keyWhileUnconnectedIsNotSentLater();
};

void TestKeys::keyLine_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("hash") << "#" << QByteArray("KBD:#\n");
    QTest::newRow("star") << "*" << QByteArray("KBD:*\n");
    QTest::newRow("8x20") << "8x20" << QByteArray("KBD:8x20\n");
    QTest::newRow("PUSK") << "PUSK" << QByteArray("KBD:PUSK\n");
    QTest::newRow("empty name") << "" << QByteArray("KBD:\n");
    QTest::newRow("non-ascii name") << QStringLiteral("\u041f\u0443\u0441\u043a")
                                    << QByteArray("KBD:\xd0\x9f\xd1\x83\xd1\x81\xd0\xba\n");
}

void TestKeys::keyLine()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, wire);

    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());
    fixture.link.sendKbdPress(key);
    QCOMPARE(fixture.receive(wire.size()), wire);
}

void TestKeys::keysArriveInPressOrder()
{
    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());
    for (const char *key : {"UP", "0", "F", "DOWN"})
        fixture.link.sendKbdPress(QLatin1String(key));
    const QByteArray wire("KBD:UP\nKBD:0\nKBD:F\nKBD:DOWN\n");
    QCOMPARE(fixture.receive(wire.size()), wire);
}

void TestKeys::deliveredKeyKeepsTheConnection_data()
{
    QTest::addColumn<bool>("reconnected");
    QTest::newRow("same connection") << false;
    QTest::newRow("connection made after the key") << true;
}

// The check that a key reached the unit in time must leave a healthy
// connection up: the one the key went out on, or one made since.
void TestKeys::deliveredKeyKeepsTheConnection()
{
    QFETCH(bool, reconnected);

    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());
    fixture.link.sendKbdPress("0");
    QCOMPARE(fixture.receive(6), QByteArray("KBD:0\n"));
    if (reconnected) {
        fixture.peer->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.linkSocket()->state(), QAbstractSocket::UnconnectedState, 15000);
        // The tick, brought forward to come within the key's limit.
        fixture.link.checkConnection();
        QVERIFY(fixture.accept());
    }
    // Past the key's limit of 1.8 s.
    QTest::qWait(2500);
    QCOMPARE(fixture.linkSocket()->state(), QAbstractSocket::ConnectedState);
    fixture.link.sendKbdPress("1");
    QCOMPARE(fixture.receive(6), QByteArray("KBD:1\n"));
}

void TestKeys::keyWhileUnconnectedIsNotSentLater_data()
{
    QTest::addColumn<bool>("connectedBefore");
    QTest::newRow("never connected") << false;
    QTest::newRow("connection lost") << true;
}

// The link keeps no queue: a key pressed while the unit is away is gone, and
// the unit sees only what is pressed after the connection is back.
void TestKeys::keyWhileUnconnectedIsNotSentLater()
{
    QFETCH(bool, connectedBefore);

    LinkFixture fixture(ServerAddress);
    if (connectedBefore) {
        QVERIFY(fixture.startConnected());
        fixture.peer->disconnectFromHost();
    } else {
        fixture.link.start(fixture.address);
    }
    QTRY_COMPARE_WITH_TIMEOUT(fixture.linkSocket()->state(), QAbstractSocket::UnconnectedState, 15000);

    fixture.link.sendKbdPress("1");
    fixture.link.sendKbdPress("2");
    QVERIFY(fixture.server.isListening() || fixture.listen());
    QVERIFY(fixture.accept());

    fixture.link.sendKbdPress("3");
    QCOMPARE(fixture.receive(6), QByteArray("KBD:3\n"));
}

QTEST_GUILESS_MAIN(TestKeys)
#include "tst_keys.moc"
