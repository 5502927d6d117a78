// Measurements of the real link and form in this process against a unit on
// another thread over loopback: throughput beside a bare socket reader,
// latency of one screen, and key press to bytes at the unit.

#include "inprocessclient.h"
#include "loopbackunit.h"
#include "measurements.h"
#include "resulttable.h"

#include "floodsender.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QSemaphore>
#include <QTcpSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int throughputRounds = 3;
constexpr int latencySamples = 2000;
constexpr int keyPresses = 60;   // 2 s of auto-repeat
constexpr int keyIntervalMs = 33; // 30 a second
constexpr int keyPairs = 10;
constexpr int keyPairGapMs = 5;
// Between pairs the connection falls idle, far longer than the unit's
// delayed acknowledgement (40 ms).
constexpr int keyPairPeriodMs = 300;

// What the label's first row shows for flood screen `index`; that row never blinks.
QString floodFirstRow(int index)
{
    return FloodSender::floodScreen(index).autopilotText.section(QLatin1Char('\n'), 0, 0);
}

struct Workload
{
    const char *description;
    bool messageAlwaysShown;
    double targetScreensPerSecond;
};

// The emulator's flood screens, or the same with the message screen shown in
// every one, as while the unit shows a message that it keeps updating.
QByteArray workloadBytes(const Workload &workload, int screens)
{
    QByteArray bytes;
    for (int i = 1; i <= screens; ++i) {
        UnitScreens line = FloodSender::floodScreen(i);
        line.msgVisible = line.msgVisible || workload.messageAlwaysShown;
        bytes += line.toUiLine();
    }
    return bytes;
}

LoopbackUnit::Job sendAll(const QByteArray &bytes, Clock::time_point *started)
{
    return [&bytes, started](QTcpSocket &connection) {
        *started = Clock::now();
        connection.write(bytes);
        while (connection.bytesToWrite() > 0 && connection.waitForBytesWritten(30000)) {
        }
    };
}

// Screens per second that a plain socket reads and counts, doing nothing else.
double bareReaderRate(const QByteArray &bytes, int screens)
{
    Clock::time_point started;
    LoopbackUnit unit(QStringLiteral("127.0.0.70"), sendAll(bytes, &started));
    if (!unit.startListening())
        return 0;
    QTcpSocket reader;
    qint64 lines = 0;
    QObject::connect(&reader, &QTcpSocket::readyRead, [&] {
        static char buffer[64 * 1024];
        for (qint64 n; (n = reader.read(buffer, sizeof buffer)) > 0;)
            lines += std::count(buffer, buffer + n, '\n');
    });
    reader.connectToHost(QStringLiteral("127.0.0.70"), 21953);
    const bool done = runEventsUntil([&] { return lines >= screens; }, 120000);
    const Clock::time_point finished = Clock::now();
    unit.wait();
    return done ? screens / (microseconds(finished - started) / 1e6) : 0;
}

// Screens per second read, decoded and shown by the real link and form.
double clientRate(const QByteArray &bytes, int screens)
{
    Clock::time_point started;
    LoopbackUnit unit(QStringLiteral("127.0.0.71"), sendAll(bytes, &started));
    if (!unit.startListening())
        return 0;
    InProcessClient client;
    int shown = 0;
    QObject::connect(&client.link(), &DebugCommunicator::autopilotScreenReceived, [&] { ++shown; });
    client.connectTo(QStringLiteral("127.0.0.71"));
    const bool done = runEventsUntil([&] { return shown >= screens; }, 120000);
    const Clock::time_point finished = Clock::now();
    unit.wait();
    if (!done || !client.autopilotLabel()->text().startsWith(floodFirstRow(screens))) {
        std::fprintf(stderr, "throughput: the form does not show the last screen\n");
        return 0;
    }
    return screens / (microseconds(finished - started) / 1e6);
}

// How the client presses keys in a key measurement, and how the unit acknowledges them.
struct KeyPattern
{
    const char *what;
    // Presses in pairs `keyPairGapMs` apart with the connection idle in
    // between, rather than at the auto-repeat rate.
    bool pairs;
    // Linux acknowledges at once after an idle spell (its quick-ack mode); a
    // stack without that mode holds every acknowledgement back for a while,
    // hoping to send it with an answer that this unit never writes.
    bool unitDelaysAcks;
    int presses;
    const char *addresses[2]; // low-delay option cleared, socket as the link sets it up
};

void delayAcknowledgements(QTcpSocket &connection)
{
    // Leaving quick-ack mode lasts only until the next segment arrives.
    const int off = 0;
    setsockopt(int(connection.socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &off, sizeof off);
}

// A unit that sends nothing back and notes when each line arrives.
LoopbackUnit::Job recordLineArrivals(const KeyPattern &pattern, QVector<Clock::time_point> *arrivedAt)
{
    return [&pattern, arrivedAt](QTcpSocket &connection) {
        if (pattern.unitDelaysAcks)
            delayAcknowledgements(connection);
        while (arrivedAt->size() < pattern.presses && connection.waitForReadyRead(10000)) {
            const Clock::time_point now = Clock::now();
            for (int lines = connection.readAll().count('\n'); lines > 0; --lines)
                arrivedAt->append(now);
            if (pattern.unitDelaysAcks)
                delayAcknowledgements(connection);
        }
    };
}

// Starts pressing Up on the form as the pattern says, noting when.
void pressKeys(const KeyPattern &pattern, QTimer &timer, VelmoScreenForm &form, QVector<Clock::time_point> *pressedAt)
{
    const bool autoRepeat = !pattern.pairs;
    const auto pressUp = [&form, pressedAt, autoRepeat] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, QString(), autoRepeat);
        pressedAt->append(Clock::now());
        QCoreApplication::sendEvent(&form, &press);
    };
    QObject::connect(&timer, &QTimer::timeout, [&pattern, &timer, pressedAt, pressUp] {
        pressUp();
        if (pattern.pairs)
            QTimer::singleShot(keyPairGapMs, Qt::PreciseTimer, pressUp);
        if (pressedAt->size() + (pattern.pairs ? 1 : 0) >= pattern.presses)
            timer.stop();
    });
    timer.setTimerType(Qt::PreciseTimer);
    timer.start(pattern.pairs ? keyPairPeriodMs : keyIntervalMs);
}

// The times from each press to its line's arrival at the unit, in
// microseconds; of a pair, only the second press counts: the first goes out
// at once in any case.
QVector<double> keyDelays(const KeyPattern &pattern, bool asLinkSetsItUp)
{
    const QString address = QString::fromLatin1(pattern.addresses[asLinkSetsItUp]);
    QVector<Clock::time_point> arrivedAt;
    LoopbackUnit unit(address, recordLineArrivals(pattern, &arrivedAt));
    if (!unit.startListening())
        return {};
    InProcessClient client;
    if (!client.connectTo(address))
        return {};
    if (!asLinkSetsItUp)
        client.socket()->setSocketOption(QAbstractSocket::LowDelayOption, 0);
    client.form().setFocus();

    QVector<Clock::time_point> pressedAt;
    QTimer timer;
    pressKeys(pattern, timer, client.form(), &pressedAt);
    runEventsUntil([&] { return pressedAt.size() == pattern.presses && unit.isFinished(); }, 30000);
    unit.wait();

    QVector<double> delays;
    for (int i = pattern.pairs ? 1 : 0; i < std::min(pressedAt.size(), arrivedAt.size()); i += pattern.pairs ? 2 : 1)
        delays.append(microseconds(arrivedAt.at(i) - pressedAt.at(i)));
    return delays;
}

} // namespace

void measureThroughput(ResultTable &table, int screens)
{
    const Workload workloads[] = {
        { "emulator flood: message screen hidden in every third screen", false, 40000 },
        { "message screen shown in every screen", true, 100000 },
    };
    for (const Workload &workload : workloads) {
        const QByteArray bytes = workloadBytes(workload, screens);
        QVector<double> bare;
        QVector<double> client;
        for (int round = 0; round < throughputRounds; ++round) {
            bare.append(bareReaderRate(bytes, screens));
            client.append(clientRate(bytes, screens));
        }
        const double bareRate = percentile(bare, 0.5);
        const double clientRateMedian = percentile(client, 0.5);
        const double lineBytes = double(bytes.size()) / screens;
        const QString what = QStringLiteral("%1 (median of %2 × %3 screens of %4 B)")
                                 .arg(QString::fromLatin1(workload.description)).arg(throughputRounds)
                                 .arg(screens).arg(lineBytes, 0, 'f', 0);
        table.addAtLeast(QStringLiteral("End-to-end throughput, link + form, ") + what,
                         clientRateMedian, workload.targetScreensPerSecond, QStringLiteral("screens/s"), 0);
        table.add(QStringLiteral("Same bytes through a bare socket reader (physical limit)"),
                  QStringLiteral("%1 screens/s (%2 MB/s); link + form reach %3 % of it")
                      .arg(formatNumber(bareRate, 0), formatNumber(bareRate * lineBytes / 1e6, 0),
                           formatNumber(bareRate > 0 ? 100.0 * clientRateMedian / bareRate : 0, 1)));
    }
}

void measureLatency(ResultTable &table)
{
    QVector<QByteArray> lines;
    for (int i = 1; i <= latencySamples; ++i)
        lines.append(fullScreenLine(i));

    QVector<Clock::time_point> sentAt(latencySamples);
    QSemaphore mayWrite;
    LoopbackUnit unit(QStringLiteral("127.0.0.72"), [&](QTcpSocket &connection) {
        // The client never answers, so it delays its acknowledgements; with
        // Nagle's algorithm the unit would then hold a line back for up to
        // 40 ms, a delay of the sender that is not the client's.
        connection.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        for (int i = 0; i < latencySamples; ++i) {
            if (!mayWrite.tryAcquire(1, 10000))
                return;
            // Let the client fall idle, as between the unit's real updates.
            QThread::usleep(500);
            sentAt[i] = Clock::now();
            connection.write(lines.at(i));
            connection.flush();
        }
    });
    if (!unit.startListening())
        return;
    InProcessClient client;
    QVector<Clock::time_point> shownAt;
    int wrongText = 0;
    QObject::connect(&client.link(), &DebugCommunicator::autopilotScreenReceived, [&] {
        // The form's slot has run: its label holds the new text now.
        shownAt.append(Clock::now());
        if (!client.autopilotLabel()->text().startsWith(floodFirstRow(shownAt.size())))
            ++wrongText;
        mayWrite.release();
    });
    client.connectTo(QStringLiteral("127.0.0.72"));
    mayWrite.release();
    runEventsUntil([&] { return shownAt.size() == latencySamples; }, 60000);
    unit.wait();

    QVector<double> delays;
    for (int i = 0; i < shownAt.size(); ++i)
        delays.append(microseconds(shownAt.at(i) - sentAt.at(i)));
    if (delays.size() != latencySamples || wrongText > 0) {
        table.add(QStringLiteral("Latency, unit's write to label"),
                  QStringLiteral("failed: %1 of %2 screens, %3 wrong").arg(delays.size()).arg(latencySamples).arg(wrongText));
        return;
    }
    const QString measure = QStringLiteral("Latency, unit's write of a line to the label holding it (%1 screens), %2");
    table.add(measure.arg(latencySamples).arg(QStringLiteral("median")),
              formatNumber(percentile(delays, 0.5), 0) + QStringLiteral(" µs"));
    table.addBelow(measure.arg(latencySamples).arg(QStringLiteral("99th percentile")),
                   percentile(delays, 0.99), 1000, QStringLiteral("µs"), 0);
}

void measureKeyToWire(ResultTable &table)
{
    const KeyPattern patterns[] = {
        { "Key press to line at the unit, 30/s auto-repeat for 2 s", false, false, keyPresses,
          { "127.0.0.73", "127.0.0.74" } },
        { "Second of two key presses 5 ms apart after an idle spell, to line at the unit, unit acknowledging at once",
          true, false, 2 * keyPairs, { "127.0.0.76", "127.0.0.77" } },
        { "Second of two key presses 5 ms apart after an idle spell, to line at the unit, unit delaying its "
          "acknowledgements",
          true, true, 2 * keyPairs, { "127.0.0.78", "127.0.0.79" } },
    };
    const char *options[] = { "low-delay option cleared (Nagle's algorithm on)", "socket as the link sets it up" };
    for (const KeyPattern &pattern : patterns) {
        const int lines = pattern.pairs ? pattern.presses / 2 : pattern.presses;
        for (const bool asLinkSetsItUp : { false, true }) {
            const QVector<double> delays = keyDelays(pattern, asLinkSetsItUp);
            const QString measure = QStringLiteral("%1, %2, %3")
                                        .arg(QString::fromLatin1(pattern.what), QString::fromLatin1(options[asLinkSetsItUp]));
            if (delays.size() != lines) {
                table.add(measure.arg(QStringLiteral("lines")),
                          QStringLiteral("failed: %1 of %2 lines").arg(delays.size()).arg(lines));
                continue;
            }
            table.add(measure.arg(QStringLiteral("median")),
                      formatNumber(percentile(delays, 0.5), 0) + QStringLiteral(" µs"));
            table.addBelow(measure.arg(QStringLiteral("maximum")), percentile(delays, 1.0), 1000, QStringLiteral("µs"), 0);
        }
    }
}
