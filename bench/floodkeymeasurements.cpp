// Keys typed while the unit floods the client with screens: the time from the
// key event to its line at the unit, beside the same keys typed while the unit
// is quiet.

#include "inprocessclient.h"
#include "loopbackunit.h"
#include "measurements.h"
#include "resulttable.h"

#include "floodsender.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <random>

namespace {

constexpr int keyCount = 20;
constexpr int patienceMs = 60000;

struct KeyRun
{
    QVector<double> delaysUs;
    double screensPerSecond = 0;
};

// The unit: floods the connection as the emulator's --flood does (or stays
// quiet) and notes when each key line arrives. It runs an event loop of its
// own, so a key line is seen as soon as it comes, whatever the flood does.
LoopbackUnit::Job floodingUnit(bool flood, QVector<Clock::time_point> *arrivedAt)
{
    return [flood, arrivedAt](QTcpSocket &connection) {
        QEventLoop loop;
        FloodSender sender(&connection, FloodSender::maxCount);
        QObject::connect(&connection, &QTcpSocket::readyRead, [&] {
            const Clock::time_point now = Clock::now();
            for (int lines = connection.readAll().count('\n'); lines > 0; --lines)
                arrivedAt->append(now);
            if (arrivedAt->size() >= keyCount)
                loop.quit();
        });
        QObject::connect(&connection, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
        QTimer::singleShot(patienceMs, &loop, &QEventLoop::quit);
        if (flood)
            sender.start();
        loop.exec();
    };
}

// A keyboard on a thread of its own: its presses reach the form as posted
// events, the way the window system hands a keyboard's events to the GUI
// thread, so they wait for whatever the GUI thread is doing. The gaps vary so
// that the presses fall at every point of the client's work.
class Keyboard : public QThread
{
public:
    explicit Keyboard(QObject *form) : form(form) {}

    QVector<Clock::time_point> pressedAt;

protected:
    void run() override
    {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> gapMs(60, 140);
        for (int i = 0; i < keyCount; ++i) {
            QThread::msleep(gapMs(random));
            pressedAt.append(Clock::now());
            QCoreApplication::postEvent(form, new QKeyEvent(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier));
        }
    }

private:
    QObject *form;
};

KeyRun typeKeys(const QString &address, bool flood)
{
    QVector<Clock::time_point> arrivedAt;
    LoopbackUnit unit(address, floodingUnit(flood, &arrivedAt));
    if (!unit.startListening())
        return {};
    InProcessClient client;
    int shown = 0;
    QObject::connect(&client.link(), &DebugCommunicator::autopilotScreenReceived, [&] { ++shown; });
    if (!client.connectTo(address))
        return {};
    // Let the flood fill every buffer on the way before the first key.
    runEventsUntil([] { return false; }, 500);

    Keyboard keyboard(&client.form());
    const int shownBefore = shown;
    const Clock::time_point from = Clock::now();
    keyboard.start();
    runEventsUntil([&] { return unit.isFinished(); }, patienceMs);
    const Clock::time_point to = Clock::now();
    keyboard.wait();
    unit.wait();

    KeyRun run;
    run.screensPerSecond = (shown - shownBefore) / (microseconds(to - from) / 1e6);
    for (int i = 0; i < std::min(keyboard.pressedAt.size(), arrivedAt.size()); ++i)
        run.delaysUs.append(microseconds(arrivedAt.at(i) - keyboard.pressedAt.at(i)));
    return run;
}

} // namespace

void measureKeysUnderFlood(ResultTable &table)
{
    const KeyRun quiet = typeKeys(QStringLiteral("127.0.0.76"), false);
    const KeyRun flood = typeKeys(QStringLiteral("127.0.0.77"), true);
    const QString measure = QStringLiteral("Key event to line at the unit, %1 keys 60–140 ms apart, %2, %3");
    if (quiet.delaysUs.size() != keyCount || flood.delaysUs.size() != keyCount) {
        table.add(measure.arg(keyCount).arg(QStringLiteral("quiet unit and flooding unit"), QStringLiteral("lines")),
                  QStringLiteral("failed: %1 and %2 of %3 lines")
                      .arg(quiet.delaysUs.size()).arg(flood.delaysUs.size()).arg(keyCount));
        return;
    }
    const double quietMaxMs = percentile(quiet.delaysUs, 1.0) / 1000;
    const QString quietUnit = QStringLiteral("unit quiet");
    const QString floodingUnit = QStringLiteral("unit flooding (emulator's flood: message page switched in two "
                                                "screens of three; %1 screens/s shown meanwhile)")
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
