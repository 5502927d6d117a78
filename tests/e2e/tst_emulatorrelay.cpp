#include "clientsocket.h"
#include "emulatoroptions.h"
#include "emulatorprocess.h"
#include "debugcommunicator.h"
#include "firewall.h"
#include "relayserver.h"
#include "relaysession.h"
#include "testfiles.h"
#include "unitscript.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <arpa/inet.h>
#include <unistd.h>

using ClientSocket::readLines;
using ClientSocket::waitMs;

namespace {

const char relayAddress[] = "127.0.0.130";
const char unitAddress[] = "127.0.0.131";
const char replayAddress[] = "127.0.0.132";

// The demo unit, or one playing a script file when given.
QStringList unitArguments(const QString &scriptFile = {})
{
    QStringList arguments{ "--listen", unitAddress };
    if (!scriptFile.isEmpty())
        arguments << "--script" << scriptFile;
    return arguments;
}

QStringList relayArguments(const QString &recording = {})
{
    QStringList arguments{ "--listen", relayAddress, "--relay", unitAddress };
    if (!recording.isEmpty())
        arguments << "--record" << recording;
    return arguments;
}

// Lines as they arrive, each with its time since `clock` started.
struct TimedLines
{
    QByteArrayList lines;
    QList<qint64> arrivedMs;
};

TimedLines readTimedLines(QTcpSocket *socket, int count, const QElapsedTimer &clock)
{
    TimedLines read;
    while (read.lines.size() < count) {
        const QByteArrayList lines = readLines(socket, 1);
        if (lines.isEmpty())
            break;
        read.lines << lines;
        read.arrivedMs << clock.elapsed();
    }
    return read;
}

// A unit that does not answer: a listening socket whose queue is full, so the
// system drops every further attempt to connect to it, until room is made.
class SilentUnit
{
public:
    explicit SilentUnit(const char *address)
    {
        sockaddr_in endpoint{};
        endpoint.sin_family = AF_INET;
        endpoint.sin_port = htons(EmulatorOptions::defaultPort);
        inet_pton(AF_INET, address, &endpoint.sin_addr);
        const int reuse = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        listening = bind(listener, reinterpret_cast<sockaddr *>(&endpoint), sizeof endpoint) == 0
            && listen(listener, 0) == 0
            && ::connect(filler, reinterpret_cast<sockaddr *>(&endpoint), sizeof endpoint) == 0;
    }
    ~SilentUnit()
    {
        close(filler);
        close(listener);
    }
    SilentUnit(const SilentUnit &) = delete;
    SilentUnit &operator=(const SilentUnit &) = delete;

    // The attempt that the system retries next is taken into the queue.
    void makeRoom() { close(accept(listener, nullptr, nullptr)); }

    // A descriptor for the next connection, or -1 when none came in time.
    int nextConnection(int timeoutMs)
    {
        pollfd ready{ listener, POLLIN, 0 };
        return poll(&ready, 1, timeoutMs) == 1 ? accept(listener, nullptr, nullptr) : -1;
    }

    bool listening = false;

private:
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int filler = socket(AF_INET, SOCK_STREAM, 0);
};

// Bytes read from `fd` until a line feed has come or the wait is over.
QByteArray readLineFrom(int fd, int timeoutMs)
{
    QByteArray line;
    QElapsedTimer clock;
    clock.start();
    pollfd ready{ fd, POLLIN, 0 };
    char byte = 0;
    while (!line.endsWith('\n') && poll(&ready, 1, int(qMax<qint64>(0, timeoutMs - clock.elapsed()))) == 1
           && read(fd, &byte, 1) == 1)
        line += byte;
    return line;
}

// A unit in the test's own process that sends each connection the same bytes,
// then closes it. The test's event loop must run for it to work.
class ByteUnit : public QObject
{
public:
    explicit ByteUnit(const QByteArray &bytes)
    {
        listening = server.listen(QHostAddress(unitAddress), EmulatorOptions::defaultPort);
        connect(&server, &QTcpServer::newConnection, this, [this, bytes] {
            connection = server.nextPendingConnection();
            connection->write(bytes);
            connection->disconnectFromHost();
        });
    }

    QTcpServer server;
    QTcpSocket *connection = nullptr;
    bool listening = false;
};

// All that `socket` receives until it is closed, running the event loop.
QByteArray receiveUntilClosed(QTcpSocket *socket, int timeoutMs = waitMs)
{
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (socket->state() == QAbstractSocket::ConnectedState && clock.elapsed() < timeoutMs) {
        QTest::qWait(5);
        received += socket->readAll();
    }
    return received + socket->readAll();
}

// How late a precise timer of `intervalMs` fires on this machine just now, at
// worst over a few tries: what scheduling adds to a delay the emulator plays.
qint64 timerLatenessMs()
{
    const int intervalMs = 50;
    qint64 worst = 0;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QTimer::singleShot(intervalMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
        worst = qMax(worst, clock.elapsed() - intervalMs);
    }
    return worst;
}

} // namespace

// The emulator between a client and a unit (another emulator), passing and
// recording what goes between them.
class TestEmulatorRelay : public QObject
{
    Q_OBJECT

private slots:
    void passesBytesUnchanged_data();
    void passesBytesUnchanged();
    void recordingPlaysBack();
    void closesTheOtherEnd_data();
    void closesTheOtherEnd();
    void marksTheLinesOfEachClient();
    void killedRecorderLeavesAPlayableFile();
    void recordsWhatTheUnitSent_data();
    void recordsWhatTheUnitSent();
    void dropsKeysWhileConnecting();
    void keyIntoStalledPathNeverArrivesLate_data();
    void keyIntoStalledPathNeverArrivesLate();
    void turnsAwayClientsPastTheBound();
    void slowClientGetsEverything();
    void halfClosedClientGetsTheAnswer();
};

void TestEmulatorRelay::passesBytesUnchanged_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArrayList>("keyWrites");
    QTest::addColumn<QByteArrayList>("keys");

    QTest::newRow("screens and keys")
        << QByteArray("0 {\"autopilot\":{\"text\":\"ONE\",\"mask\":\"*\"}}\n"
                      "50 {\"msg\":{\"visible\":true,\"text\":\"ДВА ║\",\"isAlarm\":true}}\n")
        << QByteArrayList{ "KBD:UP\nKBD:#\n" } << QByteArrayList{ "KBD:UP", "KBD:#" };
    QTest::newRow("key lines in pieces")
        << QByteArray("0 {}\n") << QByteArrayList{ "KBD:8", "x2", "0\r\nKBD:", "M\n" }
        << QByteArrayList{ "KBD:8x20", "KBD:M" };
    // Far more than one read or one socket buffer, so it crosses in pieces.
    QTest::newRow("long screen")
        << "0 {\"autopilot\":{\"text\":\"" + QByteArray(300000, 'x') + "\"}}\n10 {\"msg\":{}}\n"
        << QByteArrayList{ "KBD:F\n" } << QByteArrayList{ "KBD:F" };
}

void TestEmulatorRelay::passesBytesUnchanged()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArrayList, keyWrites);
    QFETCH(QByteArrayList, keys);

    QTemporaryDir dir;
    UnitScript steps;
    QString error;
    QVERIFY2(steps.parse(script, &error), qPrintable(error));
    EmulatorProcess unit;
    QVERIFY2(unit.start(unitArguments(writeFile(dir, "unit.txt", script))), unit.errorOutput());
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments()), relay.errorOutput());

    auto client = ClientSocket::connectTo(relayAddress);
    // Keys sent before the relay reaches the unit are dropped.
    QTRY_VERIFY_WITH_TIMEOUT(relay.errorOutput().contains("relayed to the unit"), waitMs);
    for (const QByteArray &piece : keyWrites) {
        client->write(piece);
        client->flush();
        QTest::qWait(50);
    }
    const QByteArrayList screens = readLines(client.get(), steps.steps().size());
    QCOMPARE(screens.size(), steps.steps().size());
    for (int i = 0; i < screens.size(); ++i)
        QVERIFY2(screens.at(i) == steps.steps().at(i).uiLine, qPrintable(QString::number(i)));
    QTRY_COMPARE_WITH_TIMEOUT(unit.receivedLines(), keys, waitMs);
    QCOMPARE(relay.receivedLines(), keys);
}

void TestEmulatorRelay::recordingPlaysBack()
{
    const QByteArray script = "0 {\"autopilot\":{\"text\":\"A\",\"mask\":\"\"}}\n"
                              "300 {\"msg\":{\"visible\":true,\"text\":\"B\",\"mask\":\"\",\"isAlarm\":true}}\n"
                              "250 {\"autopilot\":{\"text\":\"" + QByteArray(100000, 'c') + "\"}}\n"
                              "400 {\"msg\":{\"visible\":false,\"text\":\"D\",\"mask\":\"*\"}}\n";
    // Delays are compared within what scheduling on this machine adds to them,
    // and never closer than 50 ms, as a busy machine's hiccups come and go
    // between the measurement and the run; a fault in the delays (a key
    // restarting the count, steps sent at once) is off by 150 ms or more.
    const auto allowedOffMs = [] { return qMax<qint64>(50, 10 + 2 * timerLatenessMs()); };
    qint64 toleranceMs = allowedOffMs();
    QTemporaryDir dir;
    const QString recording = dir.filePath("session.txt");
    EmulatorProcess unit;
    QVERIFY2(unit.start(unitArguments(writeFile(dir, "unit.txt", script))), unit.errorOutput());
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments(recording)), relay.errorOutput());

    QElapsedTimer clock;
    clock.start();
    auto client = ClientSocket::connectTo(relayAddress);
    TimedLines live = readTimedLines(client.get(), 1, clock);
    // Half way between two screens: the recorded delay must still count from
    // the first screen.
    QTest::qWait(150);
    client->write("KBD:UP\n");
    const TimedLines rest = readTimedLines(client.get(), 3, clock);
    live.lines += rest.lines;
    client->write("KBD:PUSK\n");
    QTRY_COMPARE_WITH_TIMEOUT(unit.receivedLines().size(), 2, waitMs);
    client->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(relay.errorOutput().contains(" disconnected\n"), waitMs);
    QCOMPARE(live.lines.size(), 4);

    // The unit's screens are the recording's steps, keys comments between them.
    UnitScript recorded;
    QString error;
    QVERIFY2(recorded.load(recording, &error), qPrintable(error));
    UnitScript original;
    QVERIFY(original.parse(script, &error));
    QCOMPARE(recorded.steps().size(), original.steps().size());
    for (int i = 0; i < recorded.steps().size(); ++i) {
        QVERIFY2(recorded.steps().at(i).uiLine == original.steps().at(i).uiLine, qPrintable(QString::number(i)));
        QVERIFY2(qAbs(recorded.steps().at(i).delayMs - original.steps().at(i).delayMs) <= toleranceMs,
                 qPrintable(QStringLiteral("step %1: %2 ms recorded, %3 ms allowed off")
                                .arg(i).arg(recorded.steps().at(i).delayMs).arg(toleranceMs)));
    }
    const QByteArray text = readFile(recording);
    const QRegularExpression keyComment("^# (\\d+) (KBD:UP|KBD:PUSK)$", QRegularExpression::MultilineOption);
    QRegularExpressionMatchIterator keysFound = keyComment.globalMatch(QString::fromUtf8(text));
    QStringList keys;
    while (keysFound.hasNext())
        keys << keysFound.next().captured(2);
    QCOMPARE(keys, (QStringList{ "KBD:UP", "KBD:PUSK" }));
    QVERIFY(text.indexOf("\"A\"") < text.indexOf("KBD:UP") && text.indexOf("KBD:UP") < text.indexOf("\"B\""));

    // Played back, it sends the same lines with the delays of the recording.
    toleranceMs = qMax(toleranceMs, allowedOffMs());
    EmulatorProcess player;
    QVERIFY2(player.start({ "--listen", replayAddress, "--script", recording }), player.errorOutput());
    clock.restart();
    auto viewer = ClientSocket::connectTo(replayAddress);
    const TimedLines replayed = readTimedLines(viewer.get(), 4, clock);
    QCOMPARE(replayed.lines, live.lines);
    for (int i = 1; i < 4; ++i) {
        const qint64 replayedGap = replayed.arrivedMs.at(i) - replayed.arrivedMs.at(i - 1);
        const int recordedDelay = recorded.steps().at(i).delayMs;
        QVERIFY2(qAbs(replayedGap - recordedDelay) <= toleranceMs,
                 qPrintable(QStringLiteral("step %1: %2 ms recorded, %3 ms replayed, %4 ms allowed off")
                                .arg(i).arg(recordedDelay).arg(replayedGap).arg(toleranceMs)));
    }
}

void TestEmulatorRelay::closesTheOtherEnd_data()
{
    QTest::addColumn<QString>("unitState");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    QTest::newRow("unit refuses") << "none" << QByteArray("cannot be reached: Connection refused") << 0 << 1000;
    QTest::newRow("unit does not answer") << "silent" << QByteArray("cannot be reached: no answer in 4000 ms")
                                          << RelaySession::connectTimeoutMs - 100
                                          << RelaySession::connectTimeoutMs + 1000;
    QTest::newRow("unit closes") << "killed" << QByteArray("closed the connection of client") << 0 << 1000;
    QTest::newRow("client goes away") << "left" << QByteArray("went away") << 0 << 1000;
}

void TestEmulatorRelay::closesTheOtherEnd()
{
    QFETCH(QString, unitState);
    QFETCH(QByteArray, message);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    EmulatorProcess unit;
    if (unitState == "killed" || unitState == "left")
        QVERIFY2(unit.start(unitArguments()), unit.errorOutput());
    std::unique_ptr<SilentUnit> silentUnit;
    if (unitState == "silent") {
        silentUnit = std::make_unique<SilentUnit>(unitAddress);
        QVERIFY(silentUnit->listening);
    }
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments()), relay.errorOutput());

    QElapsedTimer clock;
    clock.start();
    auto client = ClientSocket::connectTo(relayAddress);
    if (unit.process.state() == QProcess::Running) {
        QCOMPARE(readLines(client.get(), 1).size(), 1);
        clock.restart();
    }
    if (unitState == "killed")
        unit.stop();
    if (unitState == "left") {
        client->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(unit.errorOutput().contains(" disconnected\n"), maxMs);
    } else {
        QVERIFY(client->state() == QAbstractSocket::UnconnectedState || client->waitForDisconnected(maxMs));
    }
    QVERIFY2(clock.elapsed() >= minMs && clock.elapsed() <= maxMs, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(relay.errorOutput().contains(message), waitMs);

    // The relay goes on listening for the client's next attempt.
    auto next = ClientSocket::connectTo(relayAddress);
    QCOMPARE(next->state(), QAbstractSocket::ConnectedState);
    QTRY_COMPARE_WITH_TIMEOUT(relay.connectionCount(), 2, waitMs);
}

void TestEmulatorRelay::marksTheLinesOfEachClient()
{
    QTemporaryDir dir;
    const QString recording = dir.filePath("session.txt");
    EmulatorProcess unit;
    QVERIFY2(unit.start(unitArguments()), unit.errorOutput());
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments(recording)), relay.errorOutput());

    auto first = ClientSocket::connectTo(relayAddress);
    QCOMPARE(readLines(first.get(), 1).size(), 1);
    auto second = ClientSocket::connectTo(relayAddress);
    QCOMPARE(readLines(second.get(), 1).size(), 1);
    second->write("KBD:M\n");
    QTRY_COMPARE_WITH_TIMEOUT(unit.receivedLines(), QByteArrayList{ "KBD:M" }, waitMs);
    first->write("KBD:F\n");
    QTRY_COMPARE_WITH_TIMEOUT(unit.receivedLines().size(), 2, waitMs);
    // Each has been sent the screens that the keys opened and closed.
    QCOMPARE(readLines(first.get(), 2).size(), 2);
    QCOMPARE(readLines(second.get(), 2).size(), 2);
    relay.stop();

    const QByteArray text = readFile(recording);
    QVERIFY2(text.contains("\n# 0 -- client ") && QRegularExpression("\n# \\d+ @2 -- client ").match(text).hasMatch(),
             text.left(2000));
    QVERIFY(QRegularExpression("\n# \\d+ @2 KBD:M\n").match(text).hasMatch());
    QVERIFY(QRegularExpression("\n# \\d+ KBD:F\n").match(text).hasMatch());
    QVERIFY(QRegularExpression("\n\\d+ \\{").match(text).hasMatch());
    QVERIFY(QRegularExpression("\n\\d+ @2 \\{").match(text).hasMatch());
    UnitScript recorded;
    QString error;
    QVERIFY2(recorded.load(recording, &error), qPrintable(error));
    QCOMPARE(recorded.steps().size(), int(text.count("\n") - text.count("\n#") - text.startsWith('#')));
}

void TestEmulatorRelay::killedRecorderLeavesAPlayableFile()
{
    QByteArray script;
    for (int i = 0; i < 50; ++i)
        script += "100 {\"autopilot\":{\"text\":\"STEP " + QByteArray::number(i) + "\"}}\n";
    QTemporaryDir dir;
    const QString recording = dir.filePath("session.txt");
    EmulatorProcess unit;
    QVERIFY2(unit.start(unitArguments(writeFile(dir, "unit.txt", script))), unit.errorOutput());
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments(recording)), relay.errorOutput());
    auto client = ClientSocket::connectTo(relayAddress);
    const QByteArrayList seen = readLines(client.get(), 5);
    QCOMPARE(seen.size(), 5);
    // A line is recorded just after it has been passed on, and the next comes
    // 100 ms later.
    QTest::qWait(30);
    relay.stop();

    UnitScript recorded;
    QString error;
    QVERIFY2(recorded.load(recording, &error), qPrintable(error));
    QVERIFY2(recorded.steps().size() >= 5 && recorded.steps().size() <= 6,
             qPrintable(QString::number(recorded.steps().size())));
    for (int i = 0; i < seen.size(); ++i)
        QCOMPARE(recorded.steps().at(i).uiLine, seen.at(i));
}

void TestEmulatorRelay::recordsWhatTheUnitSent_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArrayList>("steps");

    const QByteArray last = "UI:{\"msg\":{\"text\":\"LAST\"}}\n";
    QTest::newRow("messages byte for byte")
        << "UI: {\"autopilot\":{}} \r\nUI:{}\r\r\n" + last
        << QByteArrayList{ "UI: {\"autopilot\":{}} \r\n", "UI:{}\r\r\n", last };
    QTest::newRow("lines that are no screens")
        << "UI:\v{}\nUI:{}\f\nUI:[1]\nLOG:{}\n" + last << QByteArrayList{ last };
    QTest::newRow("a line too long, then screens")
        << "UI:{\"msg\":{\"text\":\"" + QByteArray(int(DebugCommunicator::MaxLineLength), 'x') + "\"}}\n"
            + "UI:{}\n" + last
        << QByteArrayList{ "UI:{}\n", last };
}

void TestEmulatorRelay::recordsWhatTheUnitSent()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArrayList, steps);

    QTemporaryDir dir;
    const QString recording = dir.filePath("session.txt");
    ByteUnit unit(sent);
    QVERIFY(unit.listening);
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments(recording)), relay.errorOutput());
    auto client = ClientSocket::connectTo(relayAddress);
    QCOMPARE(receiveUntilClosed(client.get()), sent);
    QTRY_VERIFY_WITH_TIMEOUT(relay.errorOutput().contains(" disconnected\n"), waitMs);

    UnitScript recorded;
    QString error;
    QVERIFY2(recorded.load(recording, &error), qPrintable(error));
    QByteArrayList played;
    for (const UnitScript::Step &step : recorded.steps())
        played << step.uiLine;
    QCOMPARE(played, steps);
}

// Keys typed while the relay's connection to the unit is still being made
// would reach the unit seconds late, or not at all: never late. The rest of a
// key line begun then goes too.
void TestEmulatorRelay::dropsKeysWhileConnecting()
{
    QTemporaryDir dir;
    const QString recording = dir.filePath("session.txt");
    SilentUnit slowUnit(unitAddress);
    QVERIFY(slowUnit.listening);
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments(recording)), relay.errorOutput());
    auto client = ClientSocket::connectTo(relayAddress);
    client->write("KBD:PUSK\nKBD:PU");
    client->flush();
    QTest::qWait(300);

    // The relay's next attempt gets through.
    slowUnit.makeRoom();
    const int unitEnd = slowUnit.nextConnection(RelaySession::connectTimeoutMs);
    QVERIFY(unitEnd >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(relay.errorOutput().contains("relayed to the unit"), waitMs);
    client->write("SK\nKBD:UP\n");
    client->flush();
    const QByteArray received = readLineFrom(unitEnd, waitMs);
    close(unitEnd);
    QCOMPARE(received, QByteArray("KBD:UP\n"));
    // Standard output lists what went to the unit; the dropped lines are
    // noted as dropped.
    QTRY_COMPARE_WITH_TIMEOUT(relay.receivedLines(), QByteArrayList{ "KBD:UP" }, waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(relay.errorOutput().contains("KBD:PUSK from client"), waitMs);
    QVERIFY(QRegularExpression("\n# \\d+ KBD:PUSK\n# \\d+ -- KBD:PUSK from client [^\n]* dropped: the unit at "
                               "127.0.0.131:21953 is not connected yet\n(.*\n)*"
                               "# \\d+ KBD:PUSK\n# \\d+ -- KBD:PUSK from client [^\n]* dropped: begun before "
                               "the unit at 127.0.0.131:21953 was connected\n# \\d+ KBD:UP\n")
                .match(QString::fromUtf8(readFile(recording)))
                .hasMatch());
}

void TestEmulatorRelay::keyIntoStalledPathNeverArrivesLate_data()
{
    // How the relay's session ends, 0.5 s after the key: "" for not at all,
    // a signal's name for the relay's end, "client" for the client leaving.
    QTest::addColumn<QString>("end");
    QTest::newRow("relay goes on") << QString();
    QTest::newRow("relay ended by Ctrl-C") << "INT";
    QTest::newRow("relay terminated") << "TERM";
    QTest::newRow("client leaves") << "client";
}

// The client counts a key as delivered once the relay has acknowledged it, so
// the relay has to keep the client's promise on the path beyond: a key
// received as that path stalls must never reach the unit when it comes back,
// however the relay's session ends meanwhile.
void TestEmulatorRelay::keyIntoStalledPathNeverArrivesLate()
{
    QFETCH(QString, end);
    if (!inPrivateNetwork())
        QFAIL("this test changes the firewall: run it in a network namespace of its own, "
              "through tests/private-network.sh as ctest does");
    // A shell's background job starts with Ctrl-C ignored, and the programs
    // it starts inherit that.
    signal(SIGINT, SIG_DFL);
    QTemporaryDir dir;
    const QString recording = dir.filePath("session.txt");
    // A quiet unit: a screen arriving at a closed connection would reset it,
    // and the key with it.
    EmulatorProcess unit;
    QVERIFY2(unit.start(unitArguments(writeFile(dir, "unit.txt", "0 {\"autopilot\":{\"text\":\"QUIET\"}}\n"))),
             unit.errorOutput());
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments(recording)), relay.errorOutput());
    auto client = ClientSocket::connectTo(relayAddress);
    QCOMPARE(readLines(client.get(), 1).size(), 1);
    QSignalSpy closed(client.get(), &QTcpSocket::disconnected);

    Firewall firewall;
    QVERIFY(firewall.dropPacketsTo(unitAddress, EmulatorOptions::defaultPort));
    client->write("KBD:PUSK\n");
    client->flush();
    QElapsedTimer sincePress;
    sincePress.start();
    QTest::qWait(500);
    QCOMPARE(relay.receivedLines(), QByteArrayList{ "KBD:PUSK" });
    if (end == "client") {
        client->disconnectFromHost();
    } else if (!end.isEmpty()) {
        QCOMPARE(::kill(pid_t(relay.process.processId()), end == "INT" ? SIGINT : SIGTERM), 0);
        QVERIFY(relay.process.waitForFinished(waitMs));
    }
    QTest::qWait(int(qMax<qint64>(0, 4000 - sincePress.elapsed())));
    QVERIFY(firewall.clear());
    // A key still on its way would come now.
    QVERIFY2(!QTest::qWaitFor([&] { return !unit.receivedLines().isEmpty(); }, 3000),
             qPrintable(QStringLiteral("the key arrived %1 ms after it was sent").arg(sincePress.elapsed())));
    if (!end.isEmpty())
        return;
    QCOMPARE(closed.count(), 1);
    QVERIFY(QRegularExpression("\n# \\d+ -- KBD:PUSK from client [^\n]* not acknowledged by the unit at "
                               "127.0.0.131:21953 within 1800 ms")
                .match(QString::fromUtf8(readFile(recording)))
                .hasMatch());
}

void TestEmulatorRelay::turnsAwayClientsPastTheBound()
{
    EmulatorProcess unit;
    QVERIFY2(unit.start(unitArguments()), unit.errorOutput());
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments()), relay.errorOutput());
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < RelayServer::maxSessions; ++i) {
        clients.push_back(ClientSocket::connectTo(relayAddress));
        QCOMPARE(readLines(clients.back().get(), 1).size(), 1);
    }
    auto oneTooMany = ClientSocket::connectTo(relayAddress);
    QVERIFY(oneTooMany->state() == QAbstractSocket::UnconnectedState || oneTooMany->waitForDisconnected(waitMs));
    QTRY_VERIFY_WITH_TIMEOUT(relay.errorOutput().contains(
                                 QStringLiteral(" turned away: %1 clients are relayed already\n")
                                     .arg(RelayServer::maxSessions)
                                     .toUtf8()),
                             waitMs);

    // Once one goes, the next is relayed again.
    clients.front()->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(relay.errorOutput().contains(" disconnected\n"), waitMs);
    auto next = ClientSocket::connectTo(relayAddress);
    QCOMPARE(readLines(next.get(), 1).size(), 1);
}

// A client that reads slowly slows the unit down, rather than filling the
// relay's memory, and still gets every byte, the last ones included when the
// unit closes meanwhile.
void TestEmulatorRelay::slowClientGetsEverything()
{
    QByteArray burst;
    for (int i = 0; burst.size() < 64 * 1024 * 1024; ++i)
        burst += "UI:{\"autopilot\":{\"text\":\"" + QByteArray::number(i) + QByteArray(1000, '.') + "\"}}\n";
    ByteUnit unit(burst);
    QVERIFY(unit.listening);
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments()), relay.errorOutput());
    auto client = ClientSocket::connectTo(relayAddress);
    // A small window keeps what the system holds on the way small, so that
    // the relay's own buffers are what fills.
    client->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
    client->setReadBufferSize(4096);
    QTest::qWait(1500);
    QVERIFY(unit.connection);
    QVERIFY2(unit.connection->bytesToWrite() > burst.size() / 4,
             qPrintable(QStringLiteral("%1 bytes left").arg(unit.connection->bytesToWrite())));
    // Still slower than the relay, so that the unit's close may find it with
    // lines in hand.
    client->setReadBufferSize(64 * 1024);
    const QByteArray received = receiveUntilClosed(client.get(), 30000);
    QCOMPARE(received.size(), burst.size());
    QVERIFY(received == burst);
}

// A client that sends a key and shuts down its sending side still gets the
// unit's answer, and is closed when the unit closes.
void TestEmulatorRelay::halfClosedClientGetsTheAnswer()
{
    SilentUnit rawUnit(unitAddress);
    QVERIFY(rawUnit.listening);
    rawUnit.makeRoom();
    EmulatorProcess relay;
    QVERIFY2(relay.start(relayArguments()), relay.errorOutput());
    auto client = ClientSocket::connectTo(relayAddress);
    const int unitEnd = rawUnit.nextConnection(waitMs);
    QVERIFY(unitEnd >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(relay.errorOutput().contains("relayed to the unit"), waitMs);
    client->write("KBD:M\n");
    client->flush();
    QVERIFY(shutdown(int(client->socketDescriptor()), SHUT_WR) == 0);

    QCOMPARE(readLineFrom(unitEnd, waitMs), QByteArray("KBD:M\n"));
    pollfd ready{ unitEnd, POLLIN, 0 };
    char byte = 0;
    QVERIFY2(poll(&ready, 1, waitMs) == 1 && read(unitEnd, &byte, 1) == 0, "the unit was not told the client's end");
    const QByteArray answer = "UI:{\"msg\":{\"visible\":true,\"text\":\"JOURNAL\"}}\n";
    QCOMPARE(write(unitEnd, answer.constData(), size_t(answer.size())), ssize_t(answer.size()));
    close(unitEnd);
    QCOMPARE(readLines(client.get(), 1), QByteArrayList{ answer });
    QVERIFY(client->state() == QAbstractSocket::UnconnectedState || client->waitForDisconnected(waitMs));
}

QTEST_GUILESS_MAIN(TestEmulatorRelay)
#include "tst_emulatorrelay.moc"
