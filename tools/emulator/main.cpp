#include "clientsession.h"
#include "demounit.h"
#include "emulatoroptions.h"
#include "endpoint.h"
#include "floodsender.h"
#include "relayserver.h"
#include "relaysession.h"
#include "scriptplayer.h"
#include "sessionrecorder.h"
#include "unitscript.h"
#include "unitserver.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

namespace {

// Tests read this output while the emulator runs, so every line is flushed.
void printReceivedLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void serveDemo(UnitServer *server)
{
    auto *unit = new DemoUnit(server);
    QObject::connect(server, &UnitServer::sessionStarted, unit, [unit](ClientSession *session) {
        session->send(unit->screens().toUiLine());
    });
    QObject::connect(unit, &DemoUnit::screensChanged, server, [server, unit] {
        server->broadcast(unit->screens().toUiLine());
    });
    QObject::connect(server, &UnitServer::lineReceived, unit, [unit](const QByteArray &line) {
        if (line.startsWith("KBD:"))
            unit->pressKey(QString::fromUtf8(line.mid(4)));
    });
    unit->startClock();
}

void serveScript(UnitServer *server, const UnitScript &script)
{
    QObject::connect(server, &UnitServer::sessionStarted, server, [script](ClientSession *session) {
        auto *player = new ScriptPlayer(script, session);
        QObject::connect(player, &ScriptPlayer::lineReady, session, &ClientSession::send);
        player->start();
    });
}

void serveFlood(UnitServer *server, int count)
{
    QObject::connect(server, &UnitServer::sessionStarted, server, [count](ClientSession *session) {
        auto *sender = new FloodSender(session, count, session);
        QObject::connect(sender, &FloodSender::finished, session, [session, count] {
            std::fprintf(stderr, "flood of %d screens sent to %s\n", count,
                         qPrintable(session->peerName()));
        });
        sender->start();
    });
}

void serve(UnitServer *server, const EmulatorOptions &options, const UnitScript &script)
{
    switch (options.mode) {
    case EmulatorOptions::Mode::Demo:
        serveDemo(server);
        break;
    case EmulatorOptions::Mode::Script:
        serveScript(server, script);
        break;
    case EmulatorOptions::Mode::Flood:
        serveFlood(server, options.floodCount);
        break;
    case EmulatorOptions::Mode::Relay:
        break;
    }
}

int fail(const QString &message, int status)
{
    std::fprintf(stderr, "velmo-unit-emulator: %s\n", qPrintable(message));
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmo-unit-emulator"));

    EmulatorOptions options;
    switch (options.parse(QCoreApplication::arguments())) {
    case EmulatorOptions::Outcome::ShowHelp:
        std::fputs(qPrintable(options.helpText()), stdout);
        return 0;
    case EmulatorOptions::Outcome::Error:
        return fail(options.errorText() + QStringLiteral(" (see --help)"), 2);
    case EmulatorOptions::Outcome::Run:
        break;
    }

    UnitScript script;
    QString error;
    if (options.mode == EmulatorOptions::Mode::Script && !script.load(options.scriptFile, &error))
        return fail(error, 1);
    const QString unitName = Endpoint::name(options.relayAddress, options.relayPort);
    auto *listener = new QTcpServer(&app);
    const QString endpoint = Endpoint::name(options.address, options.port);
    if (!listener->listen(options.address, options.port))
        return fail(QStringLiteral("cannot listen on %1: %2").arg(endpoint, listener->errorString()), 1);
    // Only now: a second relay started by mistake on the same address must
    // not truncate the first one's recording before it finds the port taken.
    SessionRecorder recorder;
    const bool recording = !options.recordFile.isEmpty();
    if (recording && !recorder.open(options.recordFile, unitName, &error))
        return fail(error, 1);
    if (!options.address.isLoopback())
        std::fprintf(stderr, "warning: %s is not a loopback address\n", qPrintable(endpoint));

    if (options.mode == EmulatorOptions::Mode::Relay) {
        auto *relay = new RelayServer(listener, options.relayAddress, options.relayPort,
                                      recording ? &recorder : nullptr, &app);
        QObject::connect(relay, &RelayServer::lineReceived, &printReceivedLine);
        std::fprintf(stderr, "relaying clients to the unit at %s\n", qPrintable(unitName));
        if (recording)
            std::fprintf(stderr, "recording to %s\n", qPrintable(options.recordFile));
    } else {
        auto *server = new UnitServer(listener, &app);
        QObject::connect(server, &UnitServer::lineReceived, &printReceivedLine);
        serve(server, options, script);
    }
    std::fprintf(stderr, "listening on %s\n", qPrintable(endpoint));
    return app.exec();
}
