#include "linktestsupport.h"

#include <QElapsedTimer>
#include <memory>

namespace {
const char ServerAddress[] = "127.0.0.2";
// Allowance for a loaded machine on top of the check interval.
const int Slack = 2000;
}

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void firstAttemptIsMadeInsideStart();
    void reconnectsAtNextTickAfterUnitCloses();
    void attemptsOnAHangingUpUnitComeOneTickApart();
    void ticksWhileConnectedDoNothing();
    void emptyAddressIsRetriedSilently();
    void destroyingLinkClosesConnectionWithoutSending();
};

void TestConnection::firstAttemptIsMadeInsideStart()
{
    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.listen());
    QVERIFY(fixture.link.children().isEmpty());

    fixture.link.start(fixture.address);
    // No event loop runs here, so the attempt can only come from start itself.
    QVERIFY(fixture.server.waitForNewConnection(3000));
}

void TestConnection::reconnectsAtNextTickAfterUnitCloses()
{
    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());

    fixture.peer->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.linkSocket()->state(), QAbstractSocket::UnconnectedState, 15000);
    QElapsedTimer sinceLost;
    sinceLost.start();

    QVERIFY(fixture.accept(CheckIntervalMs + Slack));
    QVERIFY2(sinceLost.elapsed() <= CheckIntervalMs + Slack,
             qPrintable(QString::number(sinceLost.elapsed())));
}

void TestConnection::attemptsOnAHangingUpUnitComeOneTickApart()
{
    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.listen());
    QElapsedTimer clock;
    QVector<qint64> attempts;
    QObject::connect(&fixture.server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *peer = fixture.server.nextPendingConnection()) {
            attempts << clock.elapsed();
            peer->close();
            peer->deleteLater();
        }
    });

    clock.start();
    fixture.link.start(fixture.address);
    // Attempts at start and at the next two ticks; the window closes well
    // before the third tick.
    QTest::qWait(2 * CheckIntervalMs + Slack);

    QCOMPARE(attempts.size(), 3);
    for (int i = 1; i < attempts.size(); ++i) {
        const qint64 gap = attempts.at(i) - attempts.at(i - 1);
        QVERIFY2(gap >= CheckIntervalMs * 9 / 10, qPrintable(QString::number(gap)));
    }
}

void TestConnection::ticksWhileConnectedDoNothing()
{
    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());
    LinkEvents log(&fixture.link);
    int stateChanges = 0;
    QObject::connect(fixture.linkSocket(), &QAbstractSocket::stateChanged, [&] { ++stateChanges; });

    // Nothing to wait for: the point is that nothing happens over a tick.
    QTest::qWait(CheckIntervalMs + Slack);

    QVERIFY(!fixture.server.hasPendingConnections());
    QCOMPARE(stateChanges, 0);
    QCOMPARE(fixture.peer->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(fixture.peer->bytesAvailable(), 0);
    QCOMPARE(log.events, QStringList());
}

void TestConnection::emptyAddressIsRetriedSilently()
{
    DebugCommunicator link;
    LinkEvents log(&link);

    link.start(QString());
    QTcpSocket *socket = link.findChild<QTcpSocket *>();
    QCOMPARE(socket->state(), QAbstractSocket::HostLookupState);

    int attempts = 0;
    QObject::connect(socket, &QAbstractSocket::stateChanged, [&](QAbstractSocket::SocketState state) {
        attempts += state == QAbstractSocket::HostLookupState;
    });
    QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(attempts == 1, CheckIntervalMs + Slack);
    QCOMPARE(log.events, QStringList());
}

void TestConnection::destroyingLinkClosesConnectionWithoutSending()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress(ServerAddress), UnitPort));
    auto link = std::make_unique<DebugCommunicator>();
    link->start(ServerAddress);
    QVERIFY(server.waitForNewConnection(3000));
    QTcpSocket *peer = server.nextPendingConnection();
    QTRY_COMPARE_WITH_TIMEOUT(link->findChild<QTcpSocket *>()->state(), QAbstractSocket::ConnectedState, 15000);

    link.reset();
    QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, 15000);
    QCOMPARE(peer->readAll(), QByteArray());
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
