#include "clientsession.h"
#include "clientsocket.h"
#include "emulatoroptions.h"
#include "emulatorprocess.h"
#include "floodsender.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

using ClientSocket::readLines;
using ClientSocket::waitMs;

const char demoAddress[] = "127.0.0.50";
const char floodAddress[] = "127.0.0.51";
const char scriptAddress[] = "127.0.0.52";
const char busyAddress[] = "127.0.0.53";
const char freeAddress[] = "127.0.0.54";

QJsonObject uiMessage(const QByteArray &line)
{
    if (!line.startsWith("UI:") || !line.endsWith('\n'))
        return {};
    return QJsonDocument::fromJson(line.mid(3)).object();
}

// What the emulator may grow to, toolkit included, however much a client
// leaves unread, and how much it may grow by meanwhile. The sanitizer's
// quarantine keeps up to 256 MiB of freed blocks, with their shadow memory.
#ifdef VELMO_SANITIZED
constexpr qint64 residentLimitKiB = 256 * 1024;
constexpr qint64 residentGrowthLimitKiB = 512 * 1024;
#else
constexpr qint64 residentLimitKiB = 64 * 1024;
constexpr qint64 residentGrowthLimitKiB = 8 * 1024;
#endif

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

// The emulator executable seen from the network, as the client and the soak
// test see it.
class TestEmulatorServer : public QObject
{
    Q_OBJECT

private slots:
    void demoServesSeveralClients();
    void splitAndOverlongLines();
    void floodIsCompleteAndRepeatable();
    void floodWaitsForSlowReaders();
    void demoHoldsScreensForAClientThatDoesNotRead();
    void scriptHoldsTheLatestScreensForASlowReader_data();
    void scriptHoldsTheLatestScreensForASlowReader();
    void scriptPlaysToEachClient_data();
    void scriptPlaysToEachClient();
    void refusesToStart_data();
    void refusesToStart();
};

void TestEmulatorServer::demoServesSeveralClients()
{
    EmulatorProcess emulator;
    QVERIFY2(emulator.start({ "--listen", demoAddress }), emulator.errorOutput());
    std::unique_ptr<QTcpSocket> clients[3];
    for (auto &client : clients) {
        client = ClientSocket::connectTo(demoAddress);
        const QByteArrayList first = readLines(client.get(), 1);
        QCOMPARE(first.size(), 1);
        const QJsonObject message = uiMessage(first.first());
        QCOMPARE(message.value("autopilot").toObject().value("text").toString().split('\n').size(), 8);
        QCOMPARE(message.value("msg").toObject().value("visible"), QJsonValue(false));
    }

    clients[1]->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(emulator.errorOutput().contains(" disconnected\n"), waitMs);
    clients[0]->write("KBD:M\n");
    // Every remaining client sees the journal that one of them opened (the
    // demo's clock adds a screen a second, so look through a few).
    for (int survivor : { 0, 2 }) {
        bool journalShown = false;
        for (int i = 0; i < 5 && !journalShown; ++i) {
            const QByteArrayList lines = readLines(clients[survivor].get(), 1);
            QVERIFY(!lines.isEmpty());
            journalShown = uiMessage(lines.first()).value("msg").toObject().value("visible").toBool();
        }
        QVERIFY2(journalShown, "client did not get the journal screen");
    }
    QTRY_COMPARE_WITH_TIMEOUT(emulator.receivedLines(), QByteArrayList{ "KBD:M" }, waitMs);
    QCOMPARE(emulator.process.state(), QProcess::Running);
}

void TestEmulatorServer::splitAndOverlongLines()
{
    EmulatorProcess emulator;
    QVERIFY2(emulator.start({ "--listen", demoAddress }), emulator.errorOutput());
    auto keys = ClientSocket::connectTo(demoAddress);
    auto bystander = ClientSocket::connectTo(demoAddress);
    keys->write("KBD:8x");
    keys->flush();
    QTest::qWait(200);
    keys->write("20\nKBD:#\r\nKBD:UP\n");
    QTRY_COMPARE_WITH_TIMEOUT(emulator.receivedLines(),
                              (QByteArrayList{ "KBD:8x20", "KBD:#", "KBD:UP" }), waitMs);

    auto flooder = ClientSocket::connectTo(demoAddress);
    flooder->write(QByteArray(ClientSession::maxLineBytes + 100, 'x'));
    QVERIFY(flooder->state() == QAbstractSocket::UnconnectedState
            || flooder->waitForDisconnected(waitMs));
    // The others go on: the bystander still gets the clock's screens.
    bystander->readAll();
    QCOMPARE(readLines(bystander.get(), 2).size(), 2);
    QCOMPARE(emulator.receivedLines().size(), 3);
}

void TestEmulatorServer::floodIsCompleteAndRepeatable()
{
    const int count = 3000;
    EmulatorProcess emulator;
    QVERIFY2(emulator.start({ "--listen", floodAddress, "--flood", QString::number(count) }),
             emulator.errorOutput());
    auto first = ClientSocket::connectTo(floodAddress);
    auto second = ClientSocket::connectTo(floodAddress);
    const QByteArrayList lines = readLines(first.get(), count + 1);
    QCOMPARE(lines.size(), count + 1);
    for (int i = 0; i < count; ++i)
        QCOMPARE(lines.at(i), FloodSender::floodScreen(i + 1).toUiLine());
    const QJsonObject done = uiMessage(lines.last());
    QVERIFY(done.value("autopilot").toObject().value("text").toString().startsWith("FLOOD DONE 3000 "));
    QCOMPARE(readLines(second.get(), count + 1), lines);
    QTRY_COMPARE_WITH_TIMEOUT(emulator.errorOutput().count("flood of 3000 screens sent"), 2, waitMs);
}

void TestEmulatorServer::floodWaitsForSlowReaders()
{
    // A million screens would be close to a gigabyte if they were queued up.
    EmulatorProcess emulator;
    QVERIFY2(emulator.start({ "--listen", floodAddress, "--flood", "1000000" }), emulator.errorOutput());
    auto sleeper = ClientSocket::connectTo(floodAddress);
    sleeper->setReadBufferSize(4096);
    QTRY_COMPARE_WITH_TIMEOUT(emulator.connectionCount(), 1, waitMs);
    QTest::qWait(1500);
    const qint64 rss = residentKiB(emulator.process.processId());
    QVERIFY2(rss > 0 && rss < residentLimitKiB, qPrintable(QString::number(rss)));
}

void TestEmulatorServer::demoHoldsScreensForAClientThatDoesNotRead()
{
    EmulatorProcess emulator;
    QVERIFY2(emulator.start({ "--listen", demoAddress }), emulator.errorOutput());
    auto client = ClientSocket::connectTo(demoAddress);
    client->setReadBufferSize(4096);
    QTRY_COMPARE_WITH_TIMEOUT(emulator.connectionCount(), 1, waitMs);

    // Every key line changes the screen, and the client reads none of the
    // screens. Keys are sent as fast as the emulator takes them, so that
    // none are left over when the client starts reading, for a few seconds
    // and at least until queued screens would have shown (some 13 MB).
    const int minKeys = 20000;
    const int batch = 1000;
    const QByteArray keys = QByteArray("KBD:UP\n").repeated(batch);
    int keysSent = 0;
    int keysHandled = 0;
    const qint64 startKiB = residentKiB(emulator.process.processId());
    qint64 peakKiB = startKiB;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 4000 || (keysHandled < minKeys && clock.elapsed() < 30000)) {
        if (keysSent - keysHandled <= batch) {
            client->write(keys);
            keysSent += batch;
        }
        QTest::qWait(20);
        keysHandled = emulator.receivedLines().size();
        peakKiB = qMax(peakKiB, residentKiB(emulator.process.processId()));
    }
    QVERIFY2(keysHandled >= minKeys, qPrintable(QString::number(keysHandled)));
    QVERIFY2(startKiB > 0 && peakKiB - startKiB < residentGrowthLimitKiB,
             qPrintable(QStringLiteral("%1 KiB to %2 KiB after %3 keys")
                            .arg(startKiB).arg(peakKiB).arg(keysHandled)));

    // Once it reads, it gets the screen as the last key left it: the journal.
    client->write("KBD:M\n");
    client->setReadBufferSize(0);
    bool journalShown = false;
    clock.restart();
    while (!journalShown && clock.elapsed() < waitMs) {
        for (const QByteArray &line : readLines(client.get(), 1, 100))
            journalShown = uiMessage(line).value("msg").toObject().value("visible").toBool();
    }
    QVERIFY2(journalShown, "no screen with the journal");
}

void TestEmulatorServer::scriptHoldsTheLatestScreensForASlowReader_data()
{
    QTest::addColumn<QByteArray>("lastSteps");
    QTest::addColumn<QString>("autopilot");
    QTest::addColumn<QString>("msg");

    // The client must get the last state of both screens.
    QTest::newRow("one screen each")
        << QByteArray("0 {\"autopilot\":{\"text\":\"LAST\"}}\n"
                      "0 {\"msg\":{\"visible\":true,\"text\":\"LAST MSG\"}}\n")
        << "LAST" << "LAST MSG";
    QTest::newRow("both screens, then one")
        << QByteArray("0 {\"autopilot\":{\"text\":\"BOTH\"},\"msg\":{\"text\":\"LAST MSG\"}}\n"
                      "0 {\"autopilot\":{\"text\":\"LAST\"}}\n")
        << "LAST" << "LAST MSG";
}

void TestEmulatorServer::scriptHoldsTheLatestScreensForASlowReader()
{
    QFETCH(QByteArray, lastSteps);
    QFETCH(QString, autopilot);
    QFETCH(QString, msg);

    // Far more than the socket buffers take, with nothing between the steps.
    const int fillerSteps = 200;
    const QByteArray filler(60000, 'x');
    QByteArray text = "0 {\"autopilot\":{\"text\":\"FIRST\"}}\n";
    for (int i = 0; i < fillerSteps; ++i) {
        text += "0 {\"autopilot\":{\"text\":\"" + filler + "\"},\"msg\":{\"text\":\""
            + QByteArray::number(i) + "\"}}\n";
    }
    text += lastSteps;
    QTemporaryDir dir;
    QFile file(dir.filePath("steps.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();

    EmulatorProcess emulator;
    QVERIFY2(emulator.start({ "--listen", scriptAddress, "--script", file.fileName() }),
             emulator.errorOutput());
    auto client = ClientSocket::connectTo(scriptAddress);
    client->setReadBufferSize(4096);
    QTest::qWait(1500);
    client->setReadBufferSize(0);

    // The screens as the client would show them after each line, until the
    // last line has come and nothing follows it.
    QString shownAutopilot;
    QString shownMsg;
    int received = 0;
    QElapsedTimer clock;
    clock.start();
    QByteArrayList lines;
    while ((received == 0 || !lines.isEmpty()) && clock.elapsed() < waitMs) {
        lines = readLines(client.get(), 1, 500);
        for (const QByteArray &line : lines) {
            const QJsonObject message = uiMessage(line);
            if (message.contains("autopilot"))
                shownAutopilot = message.value("autopilot").toObject().value("text").toString();
            if (message.contains("msg"))
                shownMsg = message.value("msg").toObject().value("text").toString();
            ++received;
        }
    }
    QCOMPARE(shownMsg, msg);
    QCOMPARE(shownAutopilot, autopilot);
    QVERIFY2(received < fillerSteps, qPrintable(QString::number(received)));
}

void TestEmulatorServer::scriptPlaysToEachClient_data()
{
    QTest::addColumn<int>("firstDelayMs");

    QTest::newRow("first screen at once") << 0;
    QTest::newRow("first screen after a wait") << 300;
}

void TestEmulatorServer::scriptPlaysToEachClient()
{
    QFETCH(int, firstDelayMs);

    QTemporaryDir dir;
    QFile file(dir.filePath("steps.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# three screens\n"
               + QByteArray::number(firstDelayMs) + " {\"autopilot\":{\"text\":\"ONE\"}}\n"
               "400 {\"msg\":{\"visible\":true,\"text\":\"TWO\",\"isAlarm\":true}}\n"
               "\n"
               "300 {\"autopilot\":{\"text\":\"THREE\",\"mask\":\"*\"},\"extra\":1}\n");
    file.close();

    EmulatorProcess emulator;
    QVERIFY2(emulator.start({ "--listen", scriptAddress, "--script", file.fileName() }),
             emulator.errorOutput());
    const QByteArrayList expected{
        "UI:{\"autopilot\":{\"text\":\"ONE\"}}\n",
        "UI:{\"msg\":{\"visible\":true,\"text\":\"TWO\",\"isAlarm\":true}}\n",
        "UI:{\"autopilot\":{\"text\":\"THREE\",\"mask\":\"*\"},\"extra\":1}\n",
    };
    for (int client = 0; client < 2; ++client) {
        // Started before the connection, so it can only run ahead of the
        // emulator's own clock for this client.
        QElapsedTimer clock;
        clock.start();
        auto socket = ClientSocket::connectTo(scriptAddress);
        QCOMPARE(readLines(socket.get(), 1), expected.mid(0, 1));
        QVERIFY2(clock.elapsed() >= firstDelayMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(readLines(socket.get(), 2), expected.mid(1));
        QVERIFY2(clock.elapsed() >= firstDelayMs + 650, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(readLines(socket.get(), 1, 500), QByteArrayList{});
    }
}

void TestEmulatorServer::refusesToStart_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("port taken") << QStringList{ "--listen", busyAddress } << 1 << QByteArray("cannot listen on 127.0.0.53:21953");
    QTest::newRow("missing script") << QStringList{ "--listen", busyAddress, "--script", "/nonexistent/s.txt" }
                                    << 1 << QByteArray("/nonexistent/s.txt: ");
    QTest::newRow("recording cannot be created")
        << QStringList{ "--listen", freeAddress, "--relay", "127.0.0.1", "--record", "/nonexistent/r.txt" }
        << 1 << QByteArray("cannot create the recording /nonexistent/r.txt: ");
    // As when a relay is started twice: the first one's recording stays whole.
    QTest::newRow("port taken, recording kept")
        << QStringList{ "--listen", busyAddress, "--relay", "127.0.0.1", "--record", "RECORDING" } << 1
        << QByteArray("cannot listen on 127.0.0.53:21953");
    QTest::newRow("bad option") << QStringList{ "--listen", busyAddress, "--speed", "9" } << 2
                                << QByteArray("Unknown option 'speed'");
    QTest::newRow("bad address") << QStringList{ "--listen", "127.0.0.256" } << 2
                                 << QByteArray("not an IP address: 127.0.0.256");
}

void TestEmulatorServer::refusesToStart()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);

    QTemporaryDir dir;
    const QByteArray recorded = "# 0 -- client 127.0.0.1:5000 connected\n0 {}\n";
    QFile recording(dir.filePath("recording.txt"));
    QVERIFY(recording.open(QIODevice::WriteOnly) && recording.write(recorded) == recorded.size());
    recording.close();
    arguments.replaceInStrings(QRegularExpression("^RECORDING$"), recording.fileName());

    EmulatorProcess holder;
    QVERIFY2(holder.start({ "--listen", busyAddress }), holder.errorOutput());
    EmulatorProcess emulator;
    QVERIFY(!emulator.start(arguments));
    QCOMPARE(emulator.process.state(), QProcess::NotRunning);
    QCOMPARE(emulator.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(emulator.process.exitCode(), exitCode);
    QVERIFY2(emulator.errorOutput().contains(message), emulator.errorOutput());
    QVERIFY(recording.open(QIODevice::ReadOnly));
    QCOMPARE(recording.readAll(), recorded);
}

QTEST_GUILESS_MAIN(TestEmulatorServer)
#include "tst_emulatorserver.moc"
