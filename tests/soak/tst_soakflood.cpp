// Soak test of the real client: a unit that floods it with full screens mixed
// with garbage, and that restarts ten times. The test stands between the client
// and the unit emulator as the unit the client sees: each life of the unit is a
// fresh emulator in flood mode whose lines the test relays, putting random
// bytes, lines without a colon, deeply nested JSON and, once, a 64 MiB run
// without a line feed between them. Afterwards the client must still run, have
// reconnected after every restart, show the flood's final screen exactly as a
// fresh client shows it, send keys, and have stayed within its memory budget.

#include "clientprocess.h"
#include "xvfbserver.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

const QString unitAddress = QStringLiteral("127.0.0.60");
const QString emulatorAddress = QStringLiteral("127.0.0.61");
const QString referenceUnitAddress = QStringLiteral("127.0.0.64");
constexpr quint16 unitPort = 21953;
constexpr int soakDisplay = 160;
constexpr int referenceDisplay = 161;
const QString windowTitle = QStringLiteral("Экран ВЕЛМО-КС v5");

constexpr int restarts = 10;
constexpr int screensPerLife = 2000; // 22,000 screens over the unit's 11 lives
constexpr int lifeWithLongRun = 3;
constexpr qint64 longRunBytes = 64 * 1024 * 1024;
constexpr qint64 peakRssLimitKiB = 150 * 1024;
// The client retries every 5 s; a restart must be noticed within one period.
constexpr int reconnectTimeoutMs = 15000;
constexpr qint64 relayBacklogBytes = 4 * 1024 * 1024;

QByteArray nestedJson(int depth)
{
    return "UI:" + QByteArray(depth, '[') + "\n"
         + "UI:{\"autopilot\":" + QByteArray("{\"a\":").repeated(depth) + "0"
         + QByteArray(depth + 1, '}') + "\n";
}

// One piece of garbage, different each time but the same from run to run.
QByteArray garbage(QRandomGenerator &random)
{
    switch (random.bounded(5)) {
    case 0: {
        QByteArray bytes(int(random.bounded(1, 300)), Qt::Uninitialized);
        for (char &b : bytes)
            b = char(random.bounded(256));
        return bytes + '\n';
    }
    case 1:
        return "a line without a colon " + QByteArray::number(random.generate()) + "\r\n";
    case 2:
        return nestedJson(int(random.bounded(100, 5000)));
    case 3:
        return "UI:{\"autopilot\":[1,2],\"msg\":{\"visible\":\"true\",\"text\":7}}\nUI:[]\nUI:\n";
    default:
        return "LOG:" + QByteArray(int(random.bounded(1, 70000)), 'z') + "\n";
    }
}

} // namespace

class SoakFlood : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void floodWithGarbageAndRestarts();

private:
    void liveOneLife(int life, QTcpServer &unit);
    void relayFlood(QTcpSocket &emulator, QTcpSocket &client, int life);
    void send(QTcpSocket &client, const QByteArray &bytes);
    void sendLongRun(QTcpSocket &client);
    void checkShowsFinalScreen();
    void checkSendsKeys();
    QImage referenceScreen(QImage *placeholder);

    XvfbServer soakX{ soakDisplay };
    XvfbServer referenceX{ referenceDisplay };
    std::unique_ptr<ClientProcess> client;
    QTcpSocket *clientConnection = nullptr;
    QRandomGenerator random{ 21953 };
    QByteArray finalLine;
    int screensRelayed = 0;
    int garbagePieces = 0;
};

void SoakFlood::initTestCase()
{
    QString error;
    QVERIFY2(soakX.start(&error), qPrintable(error));
    QVERIFY2(referenceX.start(&error), qPrintable(error));
}

void SoakFlood::floodWithGarbageAndRestarts()
{
    QTcpServer unit;
    client.reset(new ClientProcess(QStringLiteral(VELMO_CLIENT), unitAddress));
    for (int life = 0; life <= restarts; ++life) {
        QVERIFY2(unit.listen(QHostAddress(unitAddress), unitPort), qPrintable(unit.errorString()));
        if (life == 0) {
            QString error;
            QVERIFY2(client->start(soakX.environment(), &error), qPrintable(error));
        }
        liveOneLife(life, unit);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(client->isRunning(), client->logTail().constData());
        if (life < restarts) {
            clientConnection->abort();
            delete clientConnection;
            unit.close();
        }
    }
    QCOMPARE(screensRelayed, (restarts + 1) * screensPerLife);
    qInfo("relayed %d screens and %d pieces of garbage over %d connections",
          screensRelayed, garbagePieces, restarts + 1);

    checkShowsFinalScreen();
    if (QTest::currentTestFailed())
        return;
    checkSendsKeys();
    if (QTest::currentTestFailed())
        return;

    const qint64 peakRss = client->peakRssKiB();
    QVERIFY(peakRss > 0);
    qInfo("client peak RSS: %lld KiB", peakRss);
#ifdef VELMO_SANITIZED
    qInfo("sanitizer build: shadow memory and quarantine make the RSS limit meaningless here");
#else
    QVERIFY2(peakRss < peakRssLimitKiB, qPrintable(QStringLiteral("peak RSS %1 KiB").arg(peakRss)));
#endif
    QVERIFY2(client->isRunning(), client->logTail().constData());
}

// One life of the unit: the client connects (again), a fresh emulator floods
// it through the relay, and the life ends with the flood's final screen.
void SoakFlood::liveOneLife(int life, QTcpServer &unit)
{
    QVERIFY2(unit.waitForNewConnection(reconnectTimeoutMs),
             qPrintable(QStringLiteral("no connection from the client in life %1").arg(life)));
    clientConnection = unit.nextPendingConnection();

    QProcess emulator;
    emulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    emulator.start(QStringLiteral(VELMO_EMULATOR),
                   { QStringLiteral("--listen"), emulatorAddress, QStringLiteral("--port"),
                     QString::number(unitPort), QStringLiteral("--flood"), QString::number(screensPerLife) });
    QVERIFY2(emulator.waitForStarted(10000), qPrintable(emulator.errorString()));

    QTcpSocket flood;
    QDeadlineTimer deadline(10000);
    do {
        flood.connectToHost(emulatorAddress, unitPort);
        if (flood.waitForConnected(1000))
            break;
        flood.abort();
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    QVERIFY2(flood.state() == QAbstractSocket::ConnectedState, "the emulator does not listen");

    relayFlood(flood, *clientConnection, life);
    flood.abort();
    emulator.kill();
    emulator.waitForFinished(5000);
}

void SoakFlood::relayFlood(QTcpSocket &emulator, QTcpSocket &client, int life)
{
    for (int screens = 0;; ++screens) {
        while (!emulator.canReadLine())
            QVERIFY2(emulator.waitForReadyRead(10000), "the flood stopped");
        const QByteArray line = emulator.readLine();
        QVERIFY(line.startsWith("UI:"));
        if (line.contains("FLOOD DONE")) {
            QCOMPARE(screens, screensPerLife);
            finalLine = line;
            send(client, line);
            break;
        }
        if (life == lifeWithLongRun && screens == screensPerLife / 2)
            sendLongRun(client);
        if (random.bounded(10) == 0) {
            send(client, garbage(random));
            ++garbagePieces;
        }
        send(client, line);
        ++screensRelayed;
        if (QTest::currentTestFailed())
            return;
    }
    while (client.bytesToWrite() > 0)
        QVERIFY2(client.waitForBytesWritten(10000), "the client stopped reading");
}

void SoakFlood::send(QTcpSocket &client, const QByteArray &bytes)
{
    client.write(bytes);
    while (client.bytesToWrite() > relayBacklogBytes)
        QVERIFY2(client.waitForBytesWritten(10000), "the client stopped reading");
}

// A UI line that never ends within 64 MiB: the client must drop it and go on.
void SoakFlood::sendLongRun(QTcpSocket &client)
{
    const QByteArray piece(1024 * 1024, 'x');
    send(client, "UI:{\"autopilot\":{\"text\":\"");
    for (qint64 sent = 0; sent < longRunBytes && !QTest::currentTestFailed(); sent += piece.size())
        send(client, piece);
    send(client, "\"}}\n");
    ++garbagePieces;
}

// What a fresh client shows for the flood's final screen, drawn by a second
// client on a display of its own; also what it showed before that screen.
QImage SoakFlood::referenceScreen(QImage *placeholder)
{
    QTcpServer unit;
    if (!unit.listen(QHostAddress(referenceUnitAddress), unitPort))
        return QImage();
    ClientProcess reference(QStringLiteral(VELMO_CLIENT), referenceUnitAddress);
    QString error;
    if (!reference.start(referenceX.environment(), &error) || !unit.waitForNewConnection(reconnectTimeoutMs))
        return QImage();
    const QString window = referenceX.findWindow(windowTitle, reference.pid(), 15000);
    if (window.isEmpty())
        return QImage();
    // The window has settled once two grabs a moment apart agree.
    QImage previous;
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(300)) {
        const QImage grab = referenceX.grabWindow(window);
        if (!grab.isNull() && grab == previous)
            break;
        previous = grab;
    }
    *placeholder = previous;

    QTcpSocket *connection = unit.nextPendingConnection();
    connection->write(finalLine);
    connection->waitForBytesWritten(5000);
    QImage shown;
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(200)) {
        shown = referenceX.grabWindow(window);
        if (!shown.isNull() && shown != *placeholder)
            break;
    }
    QThread::msleep(300); // let a second paint, if any, land
    return referenceX.grabWindow(window);
}

void SoakFlood::checkShowsFinalScreen()
{
    QImage placeholder;
    const QImage expected = referenceScreen(&placeholder);
    QVERIFY2(!expected.isNull() && expected != placeholder, "the reference client shows nothing to compare");

    const QString window = soakX.findWindow(windowTitle, client->pid(), 15000);
    QVERIFY2(!window.isEmpty(), "the client's window is gone");
    QImage shown;
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(200)) {
        shown = soakX.grabWindow(window);
        if (shown == expected)
            return;
    }
    const QString path = QDir::temp().filePath(QStringLiteral("soak-flood-shown.png"));
    shown.save(path);
    expected.save(QDir::temp().filePath(QStringLiteral("soak-flood-expected.png")));
    QFAIL(qPrintable(QStringLiteral("the client does not show the final screen (see %1)").arg(path)));
}

void SoakFlood::checkSendsKeys()
{
    const QString window = soakX.findWindow(windowTitle, client->pid(), 15000);
    QVERIFY(!window.isEmpty());
    clientConnection->readAll();
    QVERIFY(soakX.typeKey(window, QStringLiteral("s")));
    QByteArray received;
    for (QDeadlineTimer deadline(10000); !received.endsWith('\n') && !deadline.hasExpired();)
        if (clientConnection->waitForReadyRead(500))
            received += clientConnection->readAll();
    QCOMPARE(received, QByteArray("KBD:8x20\n"));
}

QTEST_GUILESS_MAIN(SoakFlood)
#include "tst_soakflood.moc"
