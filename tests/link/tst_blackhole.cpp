// The link on a network that loses packets without a word: a unit that
// vanished (power lost, rebooted, cable pulled) while its connection was up,
// a quiet unit that is still there, and a connection attempt held open.
// The packets are dropped by nftables rules, so the test runs in a network
// namespace of its own (see tests/private-network.sh) and refuses to run
// anywhere else.

#include "linktestsupport.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>

#include <algorithm>

namespace {
const char UnitAddress[] = "127.0.0.81";
// The link's dead-peer timers, stated here on their own: probes start after
// 2 s of silence, and a connection whose peer answers nothing is dropped 4 s
// after the last sign of it.
const int ProbePeriodMs = 2000;
const int DeadPeerLimitMs = 4000;
// From the unit's vanishing to the link's new connection to it.
const int ReplacedWithinMs = 15000;

// The test's own table of nftables rules; it goes with the namespace, and is
// also deleted when the object goes.
class Firewall
{
public:
    ~Firewall() { clear(); }

    // Drops every packet of the connection, both ways, as a network does
    // whose far end has gone.
    bool blackhole(const QAbstractSocket &connection)
    {
        return apply(QStringLiteral("%1 drop\n%2 drop\n").arg(match(connection, false), match(connection, true)));
    }

    // Drops the link's attempts to reach the unit, so that they hang.
    bool dropPacketsTo(const QString &address, quint16 port)
    {
        return apply(QStringLiteral("ip daddr %1 tcp dport %2 drop\n").arg(address).arg(port));
    }

    // Counts the packets that the connection carries from the link to the unit.
    bool countOutgoing(const QAbstractSocket &connection)
    {
        return apply(match(connection, false) + QStringLiteral(" counter name outgoing\n"));
    }

    int outgoingPackets()
    {
        const QRegularExpressionMatch packets =
            QRegularExpression(QStringLiteral("packets (\\d+)")).match(QString::fromLatin1(
                nft({ QStringLiteral("list"), QStringLiteral("counter"), QStringLiteral("inet"), Table,
                      QStringLiteral("outgoing") })));
        return packets.hasMatch() ? packets.captured(1).toInt() : -1;
    }

    bool clear()
    {
        if (!active)
            return true;
        active = false;
        return !nft({ QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"), Table }).isNull();
    }

private:
    static inline const QString Table = QStringLiteral("velmotest");

    // The connection's packets in one direction.
    static QString match(const QAbstractSocket &connection, bool towardsLink)
    {
        const auto endpoint = [](const char *side, const QHostAddress &address, quint16 port) {
            return QStringLiteral("ip %1addr %2 tcp %1port %3").arg(QLatin1String(side), address.toString()).arg(port);
        };
        const QString link = endpoint(towardsLink ? "d" : "s", connection.localAddress(), connection.localPort());
        const QString unit = endpoint(towardsLink ? "s" : "d", connection.peerAddress(), connection.peerPort());
        return towardsLink ? unit + QLatin1Char(' ') + link : link + QLatin1Char(' ') + unit;
    }

    bool apply(const QString &rules)
    {
        active = true;
        const QString script = QStringLiteral("table inet %1 {\n"
                                              "    counter outgoing {}\n"
                                              "    chain input {\n"
                                              "        type filter hook input priority 0; policy accept;\n"
                                              "        %2"
                                              "    }\n"
                                              "}\n")
                                   .arg(Table, rules);
        return !nft({ QStringLiteral("-f"), QStringLiteral("-") }, script.toLatin1()).isNull();
    }

    // The command's output, or a null array when it failed.
    static QByteArray nft(const QStringList &arguments, const QByteArray &input = QByteArray())
    {
        const QStringList paths = QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'))
                                  + QStringList{ QStringLiteral("/usr/sbin"), QStringLiteral("/sbin") };
        QProcess process;
        process.start(QStandardPaths::findExecutable(QStringLiteral("nft"), paths), arguments);
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            qWarning("nft %s failed: %s %s", qPrintable(arguments.join(QLatin1Char(' '))),
                     process.readAllStandardError().constData(), qPrintable(process.errorString()));
            return QByteArray();
        }
        const QByteArray output = process.readAllStandardOutput();
        return output.isNull() ? QByteArray("") : output;
    }

    bool active = false;
};

// A new network namespace holds the loopback interface alone.
bool inPrivateNetwork()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    return std::all_of(interfaces.cbegin(), interfaces.cend(), [](const QNetworkInterface &interface) {
        return interface.flags().testFlag(QNetworkInterface::IsLoopBack);
    });
}
}

class TestBlackhole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void vanishedUnitIsReplaced_data();
    void vanishedUnitIsReplaced();
    void quietUnitIsKept();
    void keyDuringHeldAttemptNeverArrives();
};

void TestBlackhole::initTestCase()
{
    if (!inPrivateNetwork())
        QFAIL("this test changes the firewall: run it in a network namespace of its own, "
              "through tests/private-network.sh as ctest does");
}

void TestBlackhole::vanishedUnitIsReplaced_data()
{
    QTest::addColumn<int>("keyAfterMs"); // after the unit vanished; none if negative

    QTest::newRow("no key") << -1;
    QTest::newRow("key typed at once") << 0;
    // The key's own limit starts only now.
    QTest::newRow("key typed as the probes run out") << DeadPeerLimitMs - 500;
}

// The unit forgets the connection and listens again, and neither its reset
// nor anything else of the old connection reaches the link. The next tick may
// come up to a whole interval after the link has noticed, so noticing must
// leave that much of the time allowed.
void TestBlackhole::vanishedUnitIsReplaced()
{
    QFETCH(int, keyAfterMs);

    LinkFixture fixture(UnitAddress);
    QSignalSpy screens(&fixture.link, &DebugCommunicator::autopilotScreenReceived);
    QVERIFY(fixture.startConnected());
    QVERIFY(fixture.send(autopilotLine("LAST")));
    QTRY_COMPARE_WITH_TIMEOUT(screens.size(), 1, 15000);
    Firewall firewall;
    QVERIFY(firewall.blackhole(*fixture.linkSocket()));
    fixture.peer->abort();
    QElapsedTimer sinceVanished;
    sinceVanished.start();
    if (keyAfterMs >= 0) {
        QTest::qWait(keyAfterMs);
        QCOMPARE(fixture.linkSocket()->state(), QAbstractSocket::ConnectedState);
        fixture.link.sendKbdPress(QStringLiteral("PUSK"));
    }

    QTRY_COMPARE_WITH_TIMEOUT(fixture.linkSocket()->state(), QAbstractSocket::UnconnectedState,
                              ReplacedWithinMs - CheckIntervalMs);
    const qint64 noticedMs = sinceVanished.elapsed();
    QVERIFY(fixture.accept(ReplacedWithinMs));
    const qint64 replacedMs = sinceVanished.elapsed();
    qInfo("vanished unit noticed after %lld ms, new connection after %lld ms", noticedMs, replacedMs);
    QVERIFY2(replacedMs <= ReplacedWithinMs, qPrintable(QString::number(replacedMs)));

    QVERIFY(fixture.send(autopilotLine("BACK")));
    QTRY_COMPARE_WITH_TIMEOUT(screens.size(), 2, 15000);
    QCOMPARE(screens.last().at(0).toString(), QStringLiteral("BACK"));
    fixture.link.sendKbdPress(QStringLiteral("1"));
    QCOMPARE(fixture.receive(6), QByteArray("KBD:1\n"));
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
