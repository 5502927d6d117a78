// The link across an imperfect network: the unit listens in a network
// namespace of its own, joined to the test's namespace by a veth pair, and
// nftables rules in the test's namespace cut that pair for a while (an
// outage) or for good for one connection (a unit that vanished: power lost,
// rebooted). The test runs in a namespace of its own (see
// tests/private-network.sh), makes the unit's one itself, and refuses to run
// anywhere else; it is skipped where no namespace can be made.

#include "firewall.h"
#include "linktestsupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>

#include <algorithm>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Loopback addresses, carried over the veth pair.
const char LinkAddress[] = "127.0.0.93";
const char UnitAddress[] = "127.0.0.94";
const QString LinkInterface = QStringLiteral("velmolink");
const QString UnitInterface = QStringLiteral("velmounit");

// What the operator is promised, stated here on their own: a vanished unit
// noticed within 10 s, or within 15 s whatever keys are typed, and connected
// again at the next tick; a key reaches the unit within 2 s or never.
const int NoticedWithinMs = 10000;
const int NoticedWithKeysWithinMs = 15000;
const int KeyLateAfterMs = 2000;
// The link's first keep-alive probe follows this much silence, and a unit
// silent this long in all is dropped.
const int ProbeIdleMs = 2000;
const int DeadPeerLimitMs = 8000;
// For a busy machine's event loop.
const int SlackMs = 1000;

// The unit's namespace, held by a sleeping process and joined to the test's
// own by a veth pair; it goes when that process and the sockets in it go.
class UnitNamespace
{
public:
    ~UnitNamespace()
    {
        holder.kill();
        holder.waitForFinished();
    }

    // Makes the namespace and the pair, or says why not.
    QString create()
    {
        holder.setProcessChannelMode(QProcess::MergedChannels);
        holder.start(QStringLiteral("unshare"),
                     { QStringLiteral("--net"), QStringLiteral("sh"), QStringLiteral("-c"),
                       QStringLiteral("ip link set lo up && "
                                      "until ip link show velmounit >/dev/null 2>&1; do sleep 0.05; done && %1 && "
                                      "echo ready && exec sleep 600")
                           .arg(sideSetup(UnitInterface, UnitAddress, LinkAddress)) });
        const auto networkOf = [](const QString &process) {
            return QFileInfo(QStringLiteral("/proc/%1/ns/net").arg(process)).symLinkTarget();
        };
        const QString pid = QString::number(holder.processId());
        const bool made = holder.waitForStarted() && QTest::qWaitFor([&] {
            return holder.state() != QProcess::Running || networkOf(pid) != networkOf(QStringLiteral("self"));
        }, 5000) && holder.state() == QProcess::Running;
        if (!made)
            return QStringLiteral("cannot make a network namespace: ") + QString::fromLocal8Bit(holder.readAll());
        const QString linkSide = QStringLiteral("ip link add %1 type veth peer name velmounit netns %2 && %3")
                                     .arg(LinkInterface, pid, sideSetup(LinkInterface, LinkAddress, UnitAddress));
        if (!run(linkSide) || !holder.waitForReadyRead(5000) || !holder.readAll().contains("ready"))
            return QStringLiteral("cannot join the namespaces: ") + QString::fromLocal8Bit(holder.readAll());
        return QString();
    }

    // The shortest wait of the link's system before it sends a lost packet
    // to the unit again; 0 for the system's own, 200 ms.
    static bool setRetransmissionTimeout(int ms)
    {
        const QString timeout = ms > 0 ? QStringLiteral(" rto_min %1ms").arg(ms) : QString();
        return run(QStringLiteral("ip route change %1/32 dev %2 src %3%4")
                       .arg(QLatin1String(UnitAddress), LinkInterface, QLatin1String(LinkAddress), timeout));
    }

    QString networkPath() const { return QStringLiteral("/proc/%1/ns/net").arg(holder.processId()); }

    // Listens on the unit's side of the pair: a socket stays in the namespace
    // it was made in.
    bool listen(LinkFixture &fixture)
    {
        const int own = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int unit = open(qPrintable(networkPath()), O_RDONLY | O_CLOEXEC);
        const bool entered = own >= 0 && unit >= 0 && setns(unit, CLONE_NEWNET) == 0;
        const bool listening = entered && fixture.listen();
        const bool back = !entered || setns(own, CLONE_NEWNET) == 0;
        for (const int descriptor : { own, unit })
            if (descriptor >= 0)
                close(descriptor);
        if (!back)
            qFatal("cannot return to the test's own network namespace");
        return listening;
    }

private:
    // Loopback addresses leave a namespace only once its local table no
    // longer claims all of 127/8 and the interface takes them (route_localnet).
    static QString sideSetup(const QString &interface, const char *own, const char *peer)
    {
        return QStringLiteral("sysctl -qw net.ipv4.conf.all.route_localnet=1 net.ipv4.conf.%1.route_localnet=1 && "
                              "ip route del table local 127.0.0.0/8 dev lo && "
                              "ip addr add %2/32 dev %1 && ip link set %1 up && "
                              "ip route add %3/32 dev %1 src %2")
            .arg(interface, QLatin1String(own), QLatin1String(peer));
    }

    static bool run(const QString &command)
    {
        QProcess shell;
        shell.setProcessChannelMode(QProcess::ForwardedChannels);
        shell.start(QStringLiteral("sh"), { QStringLiteral("-c"), command });
        return shell.waitForFinished(10000) && shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0;
    }

    QProcess holder;
};

// The value of a TCP option of the connection, or -1 when it cannot be read.
int tcpOption(const QAbstractSocket &connection, int option)
{
    int value = 0;
    socklen_t size = sizeof value;
    return getsockopt(int(connection.socketDescriptor()), IPPROTO_TCP, option, &value, &size) == 0 ? value : -1;
}
}

class TestLossyLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void quietUnitSurvivesOutage();
    void vanishedUnitIsNoticed_data();
    void vanishedUnitIsNoticed();
    void keyTypedIntoOutageNeverArrivesLate_data();
    void keyTypedIntoOutageNeverArrivesLate();

private:
    bool startConnected(LinkFixture &fixture);
    bool showScreen(LinkFixture &fixture, const QByteArray &text);

    UnitNamespace *unitNamespace = nullptr;
};

void TestLossyLink::initTestCase()
{
    if (!inPrivateNetwork())
        QFAIL("this test changes the network: run it in a network namespace of its own, "
              "through tests/private-network.sh as ctest does");
    unitNamespace = new UnitNamespace;
    const QString failure = unitNamespace->create();
    if (!failure.isEmpty())
        QSKIP(qPrintable(failure));
}

void TestLossyLink::cleanupTestCase()
{
    delete unitNamespace;
    unitNamespace = nullptr;
}

bool TestLossyLink::startConnected(LinkFixture &fixture)
{
    return unitNamespace->listen(fixture) && (fixture.link.start(fixture.address), fixture.accept());
}

// Sends a screen and waits until the link has shown it: the unit's last sign
// for a while.
bool TestLossyLink::showScreen(LinkFixture &fixture, const QByteArray &text)
{
    QSignalSpy screens(&fixture.link, &DebugCommunicator::autopilotScreenReceived);
    return fixture.send(autopilotLine(text)) && screens.wait(5000);
}

// The outage takes every probe the link sends from its first one on for
// 4 s; the probes after it must still come in time.
void TestLossyLink::quietUnitSurvivesOutage()
{
    LinkFixture fixture(UnitAddress);
    QVERIFY(startConnected(fixture));
    QVERIFY(showScreen(fixture, "QUIET"));
    QTest::qWait(ProbeIdleMs - 200);
    Firewall firewall;
    QVERIFY(firewall.cut(LinkInterface));
    QTest::qWait(4000);
    QVERIFY(firewall.clear());
    QTest::qWait(NoticedWithinMs - ProbeIdleMs - 4000 + SlackMs);

    QCOMPARE(fixture.linkSocket()->state(), QAbstractSocket::ConnectedState);
    QVERIFY(!fixture.server.hasPendingConnections());
    fixture.link.sendKbdPress(QStringLiteral("0"));
    QCOMPARE(fixture.receive(6), QByteArray("KBD:0\n"));
}

void TestLossyLink::vanishedUnitIsNoticed_data()
{
    QTest::addColumn<int>("keyAfterMs"); // after the unit vanished; none if negative
    QTest::addColumn<int>("vanishings");
    QTest::addColumn<int>("noticedWithinMs");

    // Each new connection needs its timers set anew.
    QTest::newRow("no key, twice") << -1 << 2 << NoticedWithinMs;
    // The system would start the limit for unacknowledged data anew here.
    QTest::newRow("key typed as the probes run out") << DeadPeerLimitMs - 500 << 1 << NoticedWithKeysWithinMs;
}

// The unit forgets the connection and listens again, and neither its reset
// nor anything else of the old connection reaches the link.
void TestLossyLink::vanishedUnitIsNoticed()
{
    QFETCH(int, keyAfterMs);
    QFETCH(int, vanishings);
    QFETCH(int, noticedWithinMs);

    LinkFixture fixture(UnitAddress);
    QVERIFY(startConnected(fixture));
    for (int vanishing = 0; vanishing < vanishings; ++vanishing) {
        QVERIFY2(tcpOption(*fixture.linkSocket(), TCP_NODELAY) == 1,
                 "key lines would wait for the previous one's acknowledgement");
        QCOMPARE(tcpOption(*fixture.linkSocket(), TCP_USER_TIMEOUT), DeadPeerLimitMs);
        QVERIFY2(tcpOption(*fixture.linkSocket(), TCP_THIN_LINEAR_TIMEOUTS) == 1,
                 "a lost key line would wait ever longer to be sent again");
        QVERIFY(showScreen(fixture, "LAST"));
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

        QVERIFY(QTest::qWaitFor([&] { return fixture.linkSocket()->state() != QAbstractSocket::ConnectedState; },
                                noticedWithinMs + SlackMs));
        const qint64 noticedMs = sinceVanished.elapsed();
        QVERIFY(fixture.accept(CheckIntervalMs + SlackMs));
        const qint64 replacedMs = sinceVanished.elapsed();
        qInfo("vanished unit noticed after %lld ms, new connection after %lld ms", noticedMs, replacedMs);
        QVERIFY2(noticedMs <= noticedWithinMs, qPrintable(QString::number(noticedMs)));
        QVERIFY2(replacedMs - noticedMs <= CheckIntervalMs + SlackMs / 2, qPrintable(QString::number(replacedMs)));
    }
    fixture.link.sendKbdPress(QStringLiteral("1"));
    QCOMPARE(fixture.receive(6), QByteArray("KBD:1\n"));
}

void TestLossyLink::keyTypedIntoOutageNeverArrivesLate_data()
{
    QTest::addColumn<int>("outageAfterPressMs");
    QTest::addColumn<int>("retransmissionTimeoutMs");
    QTest::newRow("5 s outage") << 4000 << 0;
    // Over a slower path (a retransmission timeout of 300 ms, not 200 ms) the
    // system sends the key again about 2.45 s after the press: later than
    // promised, but within a limit of 3 s.
    QTest::newRow("outage ending just late for the key, slower path") << KeyLateAfterMs + 200 << 300;
}

// A key typed 1 s into an outage that lasts until more than 2 s after the
// press cannot reach the unit within 2 s of it, so it must never reach it,
// however the outage ends.
void TestLossyLink::keyTypedIntoOutageNeverArrivesLate()
{
    QFETCH(int, outageAfterPressMs);
    QFETCH(int, retransmissionTimeoutMs);
    QVERIFY(UnitNamespace::setRetransmissionTimeout(retransmissionTimeoutMs));
    LinkFixture fixture(UnitAddress);
    LinkEvents events(&fixture.link);
    QVERIFY(startConnected(fixture));
    QVERIFY(showScreen(fixture, "OUTAGE"));
    QTcpSocket *unitSide = fixture.peer;
    QElapsedTimer sincePress;
    QList<qint64> arrivals;
    connect(unitSide, &QTcpSocket::readyRead, this, [&] { arrivals << sincePress.elapsed(); });

    // Cut on the unit's side, so that the link's packets are lost on the way
    // and its system sends the key again as over a network; refused at the
    // link's own interface, they would wait there unsent instead.
    Firewall firewall(unitNamespace->networkPath());
    QVERIFY(firewall.cut(UnitInterface));
    QTest::qWait(1000);
    QCOMPARE(fixture.linkSocket()->state(), QAbstractSocket::ConnectedState);
    fixture.link.sendKbdPress(QStringLiteral("PUSK"));
    sincePress.start();
    QTest::qWait(outageAfterPressMs);
    QVERIFY(firewall.clear());

    // A key still in the link's connection would come now.
    (void)QTest::qWaitFor([&] { return unitSide->bytesAvailable() > 0; }, 3 * SlackMs);
    QVERIFY(std::all_of(arrivals.cbegin(), arrivals.cend(), [](qint64 ms) { return ms <= KeyLateAfterMs; }));
    QVERIFY2(unitSide->bytesAvailable() == 0, unitSide->peek(64).constData());
    QVERIFY(std::any_of(events.events.cbegin(), events.events.cend(), [](const QString &event) {
        return event.startsWith(QLatin1String("debug: Key \"PUSK\" not acknowledged"));
    }));
    QVERIFY(fixture.accept(CheckIntervalMs + SlackMs));
    fixture.link.sendKbdPress(QStringLiteral("1"));
    QCOMPARE(fixture.receive(6), QByteArray("KBD:1\n"));
}

QTEST_GUILESS_MAIN(TestLossyLink)
#include "tst_lossylink.moc"
