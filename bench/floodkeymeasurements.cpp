// Keys typed into the real client's window while the unit floods it with
// screens: the time from the key event (XTEST, as a keyboard) to its line at
// the unit, beside the same keys typed while the unit is quiet.

#include "clientprocess.h"
#include "clientwindow.h"
#include "inprocessclient.h"
#include "loopbackunit.h"
#include "measurements.h"
#include "resulttable.h"
#include "xvfbserver.h"

#include "clientsession.h"
#include "floodsender.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <random>

#include <X11/keysym.h>

namespace {

constexpr int keyDisplay = 172;
constexpr int keyCount = 20;
constexpr int patienceMs = 60000;

struct KeyRun
{
    QVector<double> delaysUs;
    double screensPerSecond = 0;
    QString failure;
};

// What the unit saw: when each key line arrived, and how much it sent.
struct UnitLog
{
    QVector<Clock::time_point> keysAt;
    qint64 bytesSent = 0;
};

// The unit: floods the connection as the emulator's --flood does (or stays
// quiet) and notes when each key line arrives. It runs an event loop of its
// own, so a key line is seen as soon as it comes, whatever the flood does.
LoopbackUnit::Job floodingUnit(bool flood, UnitLog *log)
{
    return [flood, log](QTcpSocket &connection) {
        QEventLoop loop;
        // The emulator's flood screens, written while the client keeps up
        // as the emulator judges it.
        int next = 1;
        const auto writeMore = [&] {
            while (connection.bytesToWrite() < ClientSession::maxUnsentBytes)
                connection.write(FloodSender::floodScreen(next++).toUiLine());
        };
        // Connected for as long as the loop lives: the connection outlives the job.
        QObject::connect(&connection, &QTcpSocket::bytesWritten, &loop, [&](qint64 bytes) {
            log->bytesSent += bytes;
            if (flood)
                writeMore();
        });
        QObject::connect(&connection, &QTcpSocket::readyRead, &loop, [&] {
            const Clock::time_point now = Clock::now();
            for (int lines = connection.readAll().count('\n'); lines > 0; --lines)
                log->keysAt.append(now);
            if (log->keysAt.size() >= keyCount)
                loop.quit();
        });
        QObject::connect(&connection, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
        QTimer::singleShot(patienceMs, &loop, &QEventLoop::quit);
        if (flood)
            writeMore();
        loop.exec();
    };
}

// A keyboard on a thread of its own. The gaps between presses vary so that
// they fall at every point of the client's work.
class Keyboard : public QThread
{
public:
    explicit Keyboard(ClientWindow &window) : window(window) {}

    QVector<Clock::time_point> pressedAt;

protected:
    void run() override
    {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> gapMs(60, 140);
        for (int i = 0; i < keyCount; ++i) {
            QThread::msleep(gapMs(random));
            pressedAt.append(Clock::now());
            window.typeKey(XK_Up);
        }
    }

private:
    ClientWindow &window;
};

KeyRun typeKeys(const QString &clientExecutable, const QString &address, bool flood)
{
    XvfbServer x(keyDisplay);
    QString error;
    if (!x.start(&error))
        return { {}, 0, error };
    UnitLog log;
    LoopbackUnit unit(address, floodingUnit(flood, &log));
    if (!unit.startListening())
        return { {}, 0, QStringLiteral("the unit cannot listen") };
    ClientProcess client(clientExecutable, address);
    ClientWindow window(x);
    if (window.start(client, x.environment()) < 0)
        return { {}, 0, QStringLiteral("the client's window did not appear") };
    window.focus();
    // Let the flood fill every buffer on the way before the first key.
    runEventsUntil([] { return false; }, 1000);

    Keyboard keyboard(window);
    const qint64 bytesBefore = log.bytesSent;
    const Clock::time_point from = Clock::now();
    keyboard.start();
    runEventsUntil([&] { return unit.isFinished(); }, patienceMs);
    const Clock::time_point to = Clock::now();
    keyboard.wait();
    unit.wait();

    KeyRun run;
    const double screenBytes = fullScreenLine(1).size();
    run.screensPerSecond = (log.bytesSent - bytesBefore) / screenBytes / (microseconds(to - from) / 1e6);
    for (int i = 0; i < std::min(keyboard.pressedAt.size(), log.keysAt.size()); ++i)
        run.delaysUs.append(microseconds(log.keysAt.at(i) - keyboard.pressedAt.at(i)));
    if (run.delaysUs.size() != keyCount)
        run.failure = QStringLiteral("%1 of %2 key lines arrived").arg(run.delaysUs.size()).arg(keyCount);
    return run;
}

} // namespace

void measureKeysUnderFlood(ResultTable &table, const QString &clientExecutable)
{
    const KeyRun quiet = typeKeys(clientExecutable, QStringLiteral("127.0.0.76"), false);
    const KeyRun flood = typeKeys(clientExecutable, QStringLiteral("127.0.0.77"), true);
    const QString measure = QStringLiteral("Key typed into the real window (XTEST) to its line at the unit, "
                                           "%1 keys 60–140 ms apart, %2, %3");
    if (!quiet.failure.isEmpty() || !flood.failure.isEmpty()) {
        table.add(measure.arg(keyCount).arg(QStringLiteral("quiet and flooding unit"), QStringLiteral("lines")),
                  QStringLiteral("failed: %1 %2").arg(quiet.failure, flood.failure));
        return;
    }
    const double quietMaxMs = percentile(quiet.delaysUs, 1.0) / 1000;
    const QString quietUnit = QStringLiteral("unit quiet");
    const QString floodingUnit = QStringLiteral("unit flooding as the emulator's --flood does (message page switched "
                                                "in two screens of three; the client took %1 screens/s meanwhile)")
                                     .arg(formatNumber(flood.screensPerSecond, 0));
    table.add(measure.arg(keyCount).arg(quietUnit, QStringLiteral("median")),
              formatNumber(percentile(quiet.delaysUs, 0.5) / 1000, 2) + QStringLiteral(" ms"));
    table.add(measure.arg(keyCount).arg(quietUnit, QStringLiteral("maximum")),
              formatNumber(quietMaxMs, 2) + QStringLiteral(" ms"));
    table.add(measure.arg(keyCount).arg(floodingUnit, QStringLiteral("median")),
              formatNumber(percentile(flood.delaysUs, 0.5) / 1000, 2) + QStringLiteral(" ms"));
    table.addBelow(measure.arg(keyCount).arg(floodingUnit, QStringLiteral("maximum")),
                   percentile(flood.delaysUs, 1.0) / 1000, quietMaxMs + 50, QStringLiteral("ms"), 2);
}
