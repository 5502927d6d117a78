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

#include <algorithm>
#include <cstdio>

namespace {

constexpr int throughputRounds = 3;
constexpr int latencySamples = 2000;
constexpr int keyPresses = 60;   // 2 s of auto-repeat
constexpr int keyIntervalMs = 33; // 30 a second

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

// The times from each press to its line's arrival at the unit, in microseconds.
QVector<double> keyBurst(const QString &address, bool lowDelay)
{
    QVector<Clock::time_point> arrivedAt;
    LoopbackUnit unit(address, [&arrivedAt](QTcpSocket &connection) {
        while (arrivedAt.size() < keyPresses && connection.waitForReadyRead(10000)) {
            const Clock::time_point now = Clock::now();
            for (int lines = connection.readAll().count('\n'); lines > 0; --lines)
                arrivedAt.append(now);
        }
    });
    if (!unit.startListening())
        return {};
    InProcessClient client;
    if (!client.connectTo(address))
        return {};
    client.socket()->setSocketOption(QAbstractSocket::LowDelayOption, lowDelay ? 1 : 0);
    client.form().setFocus();

    QVector<Clock::time_point> pressedAt;
    QTimer repeat;
    repeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&repeat, &QTimer::timeout, [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, QString(), true);
        pressedAt.append(Clock::now());
        QCoreApplication::sendEvent(&client.form(), &press);
        if (pressedAt.size() == keyPresses)
            repeat.stop();
    });
    repeat.start(keyIntervalMs);
    runEventsUntil([&] { return pressedAt.size() == keyPresses && unit.isFinished(); }, 20000);
    unit.wait();

    QVector<double> delays;
    for (int i = 0; i < std::min(pressedAt.size(), arrivedAt.size()); ++i)
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
    const struct
    {
        const char *address;
        bool lowDelay;
        const char *label;
    } variants[] = {
        { "127.0.0.73", false, "Nagle's algorithm on (toolkit default)" },
        { "127.0.0.74", true, "low-delay option set" },
    };
    for (const auto &variant : variants) {
        const QVector<double> delays = keyBurst(QString::fromLatin1(variant.address), variant.lowDelay);
        const QString measure = QStringLiteral("Key press to line at the unit, 30/s auto-repeat for 2 s, %1, %2")
                                    .arg(QString::fromLatin1(variant.label));
        if (delays.size() != keyPresses) {
            table.add(measure.arg(QStringLiteral("lines")),
                      QStringLiteral("failed: %1 of %2 lines").arg(delays.size()).arg(keyPresses));
            continue;
        }
        table.add(measure.arg(QStringLiteral("median")), formatNumber(percentile(delays, 0.5), 0) + QStringLiteral(" µs"));
        table.addBelow(measure.arg(QStringLiteral("maximum")), percentile(delays, 1.0), 1000, QStringLiteral("µs"), 0);
    }
}
