// Measurements of the real client executable under a private X server: time
// from process start to its window mapped, processor use while connected to a
// quiet unit, peak resident memory, and the window's size and the memory when
// the unit sends screens far larger than the display.

#include "clientprocess.h"
#include "clientwindow.h"
#include "floodsender.h"
#include "inprocessclient.h"
#include "measurements.h"
#include "resulttable.h"
#include "xvfbserver.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

constexpr int benchDisplay = 170;
constexpr int oversizedDisplay = 171;
const QString quietUnitAddress = QStringLiteral("127.0.0.75");
const QString oversizedUnitAddress = QStringLiteral("127.0.0.78");
// Time the client gets to take in, lay out and paint one screen.
constexpr int screenSettleMs = 1500;
constexpr int startupRuns = 5;
constexpr int idleSeconds = 10;

// A unit that sends one full screen to each client and then stays quiet.
void serveOneScreen(QTcpServer &unit)
{
    while (QTcpSocket *connection = unit.nextPendingConnection()) {
        connection->write(fullScreenLine(1));
        connection->flush();
    }
}

// One way of running the client: its start-up time, then its idle processor
// use and peak memory while connected to the quiet unit.
void measureVariant(ResultTable &table, const QString &clientExecutable, const XvfbServer &x,
                    const QProcessEnvironment &environment, const QString &variant)
{
    QVector<double> startups;
    std::unique_ptr<ClientProcess> client;
    for (int run = 0; run < startupRuns; ++run) {
        client.reset(new ClientProcess(clientExecutable, quietUnitAddress));
        const double ms = ClientWindow(x).start(*client, environment);
        if (ms >= 0)
            startups.append(ms);
    }
    table.addBelow(QStringLiteral("Start-up, process start to window mapped under Xvfb (median of %1), %2")
                       .arg(startupRuns).arg(variant),
                   percentile(startups, 0.5), 300, QStringLiteral("ms"), 1);

    // The last client stays: connected, showing one screen, the unit quiet.
    runEventsUntil([] { return false; }, 2000);
    const qint64 cpuBefore = client->cpuTimeMs();
    const Clock::time_point from = Clock::now();
    QThread::sleep(idleSeconds);
    const double cpuShare = 100.0 * double(client->cpuTimeMs() - cpuBefore) / (microseconds(Clock::now() - from) / 1000);
    table.addBelow(QStringLiteral("Idle processor use, connected to a quiet unit, over %1 s (share of one core), %2")
                       .arg(idleSeconds).arg(variant),
                   cpuShare, 0.5, QStringLiteral("%"), 2);
    table.addBelow(QStringLiteral("Peak resident memory (VmHWM) of that client, %1").arg(variant),
                   client->peakRssKiB() / 1024.0, 60, QStringLiteral("MiB"), 1);
    if (!client->isRunning())
        table.add(QStringLiteral("Client process, ") + variant,
                  QStringLiteral("failed: ended early: ") + QString::fromLocal8Bit(client->logTail(500)));
}

} // namespace

void measureClientProcess(ResultTable &table, const QString &clientExecutable)
{
    XvfbServer x(benchDisplay);
    QString error;
    QTcpServer unit;
    if (!x.start(&error) || !unit.listen(QHostAddress(quietUnitAddress), 21953)) {
        table.add(QStringLiteral("Client process measurements"), QStringLiteral("failed: ") + error + unit.errorString());
        return;
    }
    QObject::connect(&unit, &QTcpServer::newConnection, [&unit] { serveOneScreen(unit); });

    measureVariant(table, clientExecutable, x, x.environment(), QStringLiteral("as built"));
    // For comparison, with the X11 platform's OpenGL set-up that start-up
    // skips: under Xvfb it loads Mesa's software renderer and LLVM.
    QProcessEnvironment withGl = x.environment();
    withGl.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("xcb_glx"));
    measureVariant(table, clientExecutable, x, withGl, QStringLiteral("with X11 OpenGL set-up (QT_XCB_GL_INTEGRATION=xcb_glx)"));
}

namespace {

struct OversizedText
{
    const char *description;
    QString text;
};

QString rowsOf(int rows, int columns)
{
    const QString row = QStringLiteral("0123456789").repeated(columns / 10 + 1).left(columns);
    return (row + QLatin1Char('\n')).repeated(rows).chopped(1);
}

// Screens far beyond 20 columns and 8 or 4 rows, each sent once for the
// autopilot screen and once for the message screen (shown): one line of
// either stays within the link's 1 MiB line limit.
QVector<QByteArray> oversizedLines()
{
    const OversizedText texts[] = {
        { "rows of 30 characters", rowsOf(8, 30) },
        { "a row of 2,000 characters", rowsOf(1, 2000) },
        { "a row of 100,000 characters", rowsOf(1, 100000) },
        { "a row of 1,000,000 characters", rowsOf(1, 1000000) },
        { "40,000 rows of 20 characters", rowsOf(40000, 20) },
    };
    QVector<QByteArray> lines;
    for (const OversizedText &oversized : texts) {
        UnitScreens autopilot;
        autopilot.autopilotText = oversized.text;
        lines.append(autopilot.toUiLine());
        UnitScreens message;
        message.msgVisible = true;
        message.msgText = oversized.text;
        lines.append(message.toUiLine());
    }
    return lines;
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1 × %2").arg(size.width()).arg(size.height());
}

} // namespace

void measureOversizedScreens(ResultTable &table, const QString &clientExecutable)
{
    XvfbServer x(oversizedDisplay);
    QString error;
    QTcpServer unit;
    if (!x.start(&error) || !unit.listen(QHostAddress(oversizedUnitAddress), 21953)) {
        table.add(QStringLiteral("Oversized screens"), QStringLiteral("failed: ") + error + unit.errorString());
        return;
    }
    ClientWindow window(x);
    ClientProcess client(clientExecutable, oversizedUnitAddress);
    if (window.start(client, x.environment()) < 0 || !runEventsUntil([&] { return unit.hasPendingConnections(); }, 20000)) {
        table.add(QStringLiteral("Oversized screens"), QStringLiteral("failed: the client did not start or connect"));
        return;
    }
    QTcpSocket *connection = unit.nextPendingConnection();
    const auto send = [&](const QByteArray &line) {
        connection->write(line);
        runEventsUntil([&] { return connection->bytesToWrite() == 0; }, 20000);
        runEventsUntil([] { return false; }, screenSettleMs / 3);
    };

    send(fullScreenLine(1));
    QSize largest = window.size();
    const QSize opening = largest;
    for (const QByteArray &line : oversizedLines()) {
        send(line);
        window.followSize(screenSettleMs, &largest);
    }
    send(fullScreenLine(1));
    window.followSize(screenSettleMs, &largest);
    const QSize after = window.size();

    const QString what = QStringLiteral("Window of the real client under Xvfb, screens of 30 to 1,000,000 columns and "
                                        "up to 40,000 rows, each for both screens, then a normal screen: %1");
    const bool kept = largest == opening && after == opening;
    table.add(what.arg(QStringLiteral("size opened, largest, after")),
              QStringLiteral("%1; %2; %3").arg(sizeText(opening), sizeText(largest), sizeText(after)),
              QStringLiteral("never changes"), kept ? ResultTable::Verdict::Met : ResultTable::Verdict::Missed);
    table.addBelow(what.arg(QStringLiteral("peak resident memory (VmHWM)")), client.peakRssKiB() / 1024.0, 100,
                   QStringLiteral("MiB"), 1);
    if (!client.isRunning())
        table.add(QStringLiteral("Oversized screens"),
                  QStringLiteral("failed: the client ended: ") + QString::fromLocal8Bit(client.logTail(500)));
}
