// What the emulator's relay adds to a line's way: a client socket and a unit
// socket in this process, connected directly and then through the emulator
// relaying (and recording), each line timed from its write at one end to its
// last byte read at the other.

#include "measurements.h"
#include "resulttable.h"

#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

const QString unitAddress = QStringLiteral("127.0.0.84");
const QString relayAddress = QStringLiteral("127.0.0.85");
constexpr quint16 unitPort = 21953;
constexpr int relaySamples = 2000;
constexpr int waitMs = 5000;

struct Route
{
    const char *name;
    QStringList relayArguments; // empty: no relay
};

struct Ends
{
    QTcpSocket client;
    std::unique_ptr<QTcpSocket> unit;
};

bool startRelay(QProcess &relay, const QString &emulator, const QStringList &arguments)
{
    relay.setStandardOutputFile(QProcess::nullDevice());
    relay.setReadChannel(QProcess::StandardError);
    relay.start(emulator, arguments);
    QByteArray errors;
    while (!errors.contains("listening on") && relay.waitForReadyRead(waitMs))
        errors += relay.readAllStandardError();
    if (!errors.contains("listening on"))
        std::fprintf(stderr, "the relay did not start: %s\n", errors.constData());
    return errors.contains("listening on");
}

bool connectEnds(QTcpServer &unitServer, const QString &address, Ends *ends)
{
    ends->client.connectToHost(address, unitPort);
    if (!ends->client.waitForConnected(waitMs) || !unitServer.waitForNewConnection(waitMs))
        return false;
    ends->unit.reset(unitServer.nextPendingConnection());
    for (QTcpSocket *socket : { &ends->client, ends->unit.get() })
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

// Microseconds from writing `line` at `from` to reading all of it at `to`,
// one line at a time; empty if a line went missing.
QVector<double> oneWayMicroseconds(QTcpSocket &from, QTcpSocket &to, const QByteArray &line)
{
    QVector<double> samples;
    for (int i = 0; i < relaySamples; ++i) {
        const Clock::time_point written = Clock::now();
        from.write(line);
        from.flush();
        while (to.bytesAvailable() < line.size() && to.waitForReadyRead(waitMs)) {
        }
        if (to.read(line.size()) != line)
            return {};
        samples << microseconds(Clock::now() - written);
    }
    return samples;
}

QString medianAndMax(const QVector<double> &samples)
{
    return QStringLiteral("%1 / %2").arg(formatNumber(percentile(samples, 0.5), 0),
                                         formatNumber(percentile(samples, 1.0), 0));
}

} // namespace

void measureRelay(ResultTable &table, const QString &emulatorExecutable)
{
    QTemporaryDir dir;
    const QStringList relaying{ "--listen", relayAddress, "--relay", unitAddress };
    const Route routes[] = {
        { "direct", {} },
        { "relayed", relaying },
        { "relayed and recorded", relaying + QStringList{ "--record", dir.filePath("session.txt") } },
    };
    const QByteArray keyLine = "KBD:UP\n";
    const QByteArray screenLine = fullScreenLine(1);

    QTcpServer unitServer;
    if (!unitServer.listen(QHostAddress(unitAddress), unitPort)) {
        std::fprintf(stderr, "cannot listen on %s: %s\n", qPrintable(unitAddress),
                     qPrintable(unitServer.errorString()));
        return;
    }
    QStringList keys;
    QStringList screens;
    double directKeyMedian = 0;
    double directScreenMedian = 0;
    for (const Route &route : routes) {
        QProcess relay;
        const bool relayed = !route.relayArguments.isEmpty();
        Ends ends;
        if ((relayed && !startRelay(relay, emulatorExecutable, route.relayArguments))
            || !connectEnds(unitServer, relayed ? relayAddress : unitAddress, &ends)) {
            std::fprintf(stderr, "relay measurement: cannot connect the %s route\n", route.name);
            return;
        }
        const QVector<double> keySamples = oneWayMicroseconds(ends.client, *ends.unit, keyLine);
        const QVector<double> screenSamples = oneWayMicroseconds(*ends.unit, ends.client, screenLine);
        if (keySamples.isEmpty() || screenSamples.isEmpty()) {
            std::fprintf(stderr, "relay measurement: lines lost on the %s route\n", route.name);
            return;
        }
        if (!relayed) {
            directKeyMedian = percentile(keySamples, 0.5);
            directScreenMedian = percentile(screenSamples, 0.5);
        }
        const auto added = [](const QVector<double> &samples, double direct) {
            return QStringLiteral(" (+%1)").arg(formatNumber(percentile(samples, 0.5) - direct, 0));
        };
        keys << QStringLiteral("%1 %2%3").arg(route.name, medianAndMax(keySamples),
                                              relayed ? added(keySamples, directKeyMedian) : QString());
        screens << QStringLiteral("%1 %2%3").arg(route.name, medianAndMax(screenSamples),
                                                 relayed ? added(screenSamples, directScreenMedian) : QString());
        ends.client.abort();
        relay.kill();
        relay.waitForFinished(waitMs);
    }
    table.add(QStringLiteral("Emulator relay: key line client to unit, median / max µs (added median), %1 lines")
                  .arg(relaySamples),
              keys.join(QStringLiteral("; ")));
    table.add(QStringLiteral("Emulator relay: screen line (%1 bytes) unit to client, median / max µs (added median), %2 lines")
                  .arg(screenLine.size())
                  .arg(relaySamples),
              screens.join(QStringLiteral("; ")));
}
