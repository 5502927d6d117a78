#include "clientsocket.h"
#include "emulatoroptions.h"
#include "emulatorprocess.h"
#include "relaysession.h"
#include "unitscript.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <arpa/inet.h>
#include <unistd.h>

using ClientSocket::readLines;
using ClientSocket::waitMs;

namespace {

const char relayAddress[] = "127.0.0.130";
const char unitAddress[] = "127.0.0.131";
const char replayAddress[] = "127.0.0.132";

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qWarning("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

QByteArray readFile(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

// A unit that never answers: a listening socket whose queue is full, so the
// system drops every further attempt to connect to it.
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

    bool listening = false;

private:
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int filler = socket(AF_INET, SOCK_STREAM, 0);
};

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
    client->write("KBD:UP\n");
    const TimedLines rest = readTimedLines(client.get(), 3, clock);
    live.lines += rest.lines;
    live.arrivedMs += rest.arrivedMs;
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
        QVERIFY2(qAbs(recorded.steps().at(i).delayMs - original.steps().at(i).delayMs) <= 10,
                 qPrintable(QStringLiteral("step %1: %2 ms").arg(i).arg(recorded.steps().at(i).delayMs)));
    }
    const QByteArray text = readFile(recording);
    const QRegularExpression keyComment("^# (\\d+) (KBD:UP|KBD:PUSK)$", QRegularExpression::MultilineOption);
    QRegularExpressionMatchIterator keysFound = keyComment.globalMatch(QString::fromUtf8(text));
    QStringList keys;
    while (keysFound.hasNext())
        keys << keysFound.next().captured(2);
    QCOMPARE(keys, (QStringList{ "KBD:UP", "KBD:PUSK" }));
    QVERIFY(text.indexOf("\"A\"") < text.indexOf("KBD:UP") && text.indexOf("KBD:UP") < text.indexOf("\"B\""));

    // Played back, it sends the same lines with the same gaps.
    EmulatorProcess player;
    QVERIFY2(player.start({ "--listen", replayAddress, "--script", recording }), player.errorOutput());
    clock.restart();
    auto viewer = ClientSocket::connectTo(replayAddress);
    const TimedLines replayed = readTimedLines(viewer.get(), 4, clock);
    QCOMPARE(replayed.lines, live.lines);
    for (int i = 1; i < 4; ++i) {
        const qint64 liveGap = live.arrivedMs.at(i) - live.arrivedMs.at(i - 1);
        const qint64 replayedGap = replayed.arrivedMs.at(i) - replayed.arrivedMs.at(i - 1);
        QVERIFY2(qAbs(replayedGap - liveGap) <= 10,
                 qPrintable(QStringLiteral("step %1: %2 ms live, %3 ms replayed").arg(i).arg(liveGap).arg(replayedGap)));
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

QTEST_GUILESS_MAIN(TestEmulatorRelay)
#include "tst_emulatorrelay.moc"
