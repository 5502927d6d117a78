#include "linktestsupport.h"

#include <QFile>
#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define VELMO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMO_ASAN 1
#endif
#endif

namespace {
const char ServerAddress[] = "127.0.0.5";
const QByteArray TextHead = "UI:{\"autopilot\":{\"text\":\"";
const QByteArray TextTail = "\"}}";

// A well-formed "UI" line of exactly `length` bytes before its line feed.
QByteArray uiLineBody(qint64 length)
{
    return TextHead + QByteArray(int(length - TextHead.size() - TextTail.size()), 'a') + TextTail;
}

QString autopilotEvent(qint64 bodyLength)
{
    return QStringLiteral("autopilot %1|").arg(QString(int(bodyLength - TextHead.size() - TextTail.size()), 'a'));
}

QString droppedWarning(qint64 length)
{
    return QStringLiteral("warning: Over-long line dropped: %1 bytes received without a line feed (limit %2)")
        .arg(length).arg(LineLimit);
}

// Where the process's own figures cannot be read (outside Linux), only the
// link's buffer is checked.
qint64 residentBytes()
{
#ifdef Q_OS_LINUX
    QFile statm("/proc/self/statm");
    if (statm.open(QIODevice::ReadOnly))
        return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
#endif
    return -1;
}
} // namespace

class TestOverlong : public QObject
{
    Q_OBJECT

private slots:
    void lengthLimit_data();
    void lengthLimit();
    void streamWithoutLineFeedKeepsMemoryBounded();
    void unfinishedLineEndsWithConnection_data();
    void unfinishedLineEndsWithConnection();
};

void TestOverlong::lengthLimit_data()
{
    QTest::addColumn<qint64>("bodyLength");
    QTest::addColumn<bool>("lineFeedLater");
    QTest::addColumn<bool>("kept");

    QTest::newRow("one below the limit") << LineLimit - 1 << false << true;
    QTest::newRow("at the limit") << LineLimit << false << true;
    QTest::newRow("at the limit, line feed after the body is buffered") << LineLimit << true << true;
    QTest::newRow("one above the limit") << LineLimit + 1 << false << false;
    QTest::newRow("one above the limit, line feed later") << LineLimit + 1 << true << false;
    QTest::newRow("three times the limit") << 3 * LineLimit << false << false;
}

void TestOverlong::lengthLimit()
{
    QFETCH(qint64, bodyLength);
    QFETCH(bool, lineFeedLater);
    QFETCH(bool, kept);

    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());
    LinkEvents log(&fixture.link);

    const QByteArray body = uiLineBody(bodyLength);
    if (lineFeedLater) {
        QVERIFY(fixture.send(body));
        if (kept)
            QTRY_COMPARE_WITH_TIMEOUT(fixture.linkSocket()->bytesAvailable(), bodyLength, 15000);
        QVERIFY(fixture.send("\n"));
    } else {
        QVERIFY(fixture.send(body + '\n'));
    }
    QVERIFY(fixture.send(autopilotLine("marker")));
    QVERIFY(log.waitFor("autopilot marker|"));

    const QStringList expected{kept ? autopilotEvent(bodyLength) : droppedWarning(bodyLength), "autopilot marker|"};
    QCOMPARE(log.events, expected);
}

// The unit streams a line far longer than the limit, fed as the link reads
// it, then a normal line.
void TestOverlong::streamWithoutLineFeedKeepsMemoryBounded()
{
    const qint64 lineLength = 40 * LineLimit;
    const int chunkSize = 256 * 1024;

    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());
    LinkEvents log(&fixture.link);
    QTcpSocket *linkSocket = fixture.linkSocket();

    const qint64 residentAtStart = residentBytes();
    qint64 mostBuffered = 0;
    qint64 mostResident = residentAtStart;
    connect(linkSocket, &QIODevice::readyRead, this, [&] {
        mostBuffered = qMax(mostBuffered, linkSocket->bytesAvailable());
        mostResident = qMax(mostResident, residentBytes());
    });

    qint64 sent = 0;
    const QByteArray filler(chunkSize, 'x');
    auto feed = [&] {
        while (sent < lineLength && fixture.peer->bytesToWrite() < 2 * chunkSize) {
            const QByteArray chunk = sent == 0 ? TextHead + filler.left(chunkSize - TextHead.size())
                                               : filler.left(int(qMin<qint64>(chunkSize, lineLength - sent)));
            fixture.peer->write(chunk);
            sent += chunk.size();
            if (sent == lineLength)
                fixture.peer->write("\n" + autopilotLine("marker"));
        }
    };
    connect(fixture.peer, &QIODevice::bytesWritten, this, feed);
    feed();

    QVERIFY(log.waitFor("autopilot marker|", 120000));
    const QStringList expected{droppedWarning(lineLength), "autopilot marker|"};
    QCOMPARE(log.events, expected);
    QVERIFY2(mostBuffered <= LineLimit + 1, qPrintable(QString::number(mostBuffered)));
#if !defined(VELMO_ASAN) && defined(Q_OS_LINUX)
    // A sanitizer's quarantine keeps freed memory resident, so growth is
    // only meaningful in a plain build.
    QVERIFY(residentAtStart > 0);
    QVERIFY2(mostResident - residentAtStart < 16 * LineLimit,
             qPrintable(QStringLiteral("grew by %1 bytes").arg(mostResident - residentAtStart)));
#endif
}

void TestOverlong::unfinishedLineEndsWithConnection_data()
{
    QTest::addColumn<QByteArray>("unfinished");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("short") << QByteArray("UI:{\"autopilot\":") << QStringList{"autopilot fresh|"};
    QTest::newRow("over the limit") << QByteArray(3 * LineLimit, 'x')
                                    << QStringList{droppedWarning(3 * LineLimit), "autopilot fresh|"};
}

// Bytes of a line the unit never finished must not become part of the first
// line of the next connection.
void TestOverlong::unfinishedLineEndsWithConnection()
{
    QFETCH(QByteArray, unfinished);
    QFETCH(QStringList, expected);

    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());
    LinkEvents log(&fixture.link);

    QVERIFY(fixture.send(unfinished));
    fixture.peer->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.linkSocket()->state(), QAbstractSocket::UnconnectedState, 15000);
    QVERIFY(fixture.accept());
    QVERIFY(fixture.send(autopilotLine("fresh")));
    QVERIFY(log.waitFor("autopilot fresh|"));
    QCOMPARE(log.events, expected);
}

QTEST_GUILESS_MAIN(TestOverlong)
#include "tst_overlong.moc"
