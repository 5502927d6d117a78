#include "emulatoroptions.h"

#include "debugcommunicator.h"
#include "endpoint.h"
#include "floodsender.h"
#include "relayserver.h"

#include <QCommandLineParser>
#include <QNetworkInterface>

#include <algorithm>

namespace {

const char description[] =
    "Stands in for the control unit: listens for VelmoScreen clients, sends them\n"
    "the unit's screens as \"UI:\" lines and prints every line they send (key\n"
    "lines such as \"KBD:PUSK\") to standard output, one line each.\n"
    "\n"
    "Without --script, --flood or --relay it runs a demo autopilot shared by all\n"
    "clients: UP/DOWN/LEFT/RIGHT select a field, digits edit it, PUSK starts and\n"
    "stops a run, M opens the journal, F closes it, * raises a test alarm and #\n"
    "acknowledges it. A run stops with an alarm after 45 seconds.\n"
    "\n"
    "Script files have one step a line: <delay-ms> <json>, the delay counted\n"
    "from the previous step (from the connection for the first), the JSON a UI\n"
    "message object sent as written, byte for byte after the space that ends\n"
    "the delay, with the line's own end (CR LF or LF), e.g.\n"
    "  0 {\"autopilot\":{\"text\":\"HELLO\",\"mask\":\"*\"}}\n"
    "  500 {\"msg\":{\"visible\":true,\"text\":\"ALARM\",\"mask\":\"\",\"isAlarm\":true}}\n"
    "Blank lines and lines starting with # are skipped. Each client that\n"
    "connects gets the whole script from its start; the last screen stays.\n"
    "\n"
    "--flood N sends each client N numbered screens as fast as it reads them,\n"
    "then a screen whose first row reads \"FLOOD DONE N\".\n"
    "\n"
    "--relay ADDRESS[:PORT] stands between the clients and a real unit instead:\n"
    "each client that connects gets its own connection to the unit (port 21953\n"
    "unless given; an IPv6 address with a port is written [ADDRESS]:PORT), and\n"
    "bytes pass unchanged both ways. If the unit cannot be reached or closes,\n"
    "the client's connection is closed, so that the client tries again. Lines\n"
    "a client sends before the unit is reached are dropped, as the client\n"
    "drops keys typed while it is not connected. A line that the unit has not\n"
    "acknowledged %2 ms after the relay got it drops the connection to the\n"
    "unit, and whatever of it is still unsent, and closes the client's, as the\n"
    "client does itself when connected to the unit directly: a key reaches the\n"
    "unit within 2 s of the press or never. A client that shuts down its\n"
    "sending side has that passed on to the unit, and gets the unit's lines\n"
    "until the unit closes. At most %1 clients are relayed at a time; the\n"
    "relay refuses to relay to where it listens itself (an IPv4-mapped IPv6\n"
    "address, ::ffff:a.b.c.d, counts as the IPv4 address a.b.c.d).\n"
    "With --record FILE everything that passes is written to FILE, line by\n"
    "line as it passes, as a script that --script plays back:\n"
    "  # 0 -- client 127.0.0.1:41000 connected\n"
    "  35 {\"autopilot\":{\"text\":\"HELLO\",\"mask\":\"*\"}}\n"
    "  # 1530 KBD:UP\n"
    "  4 {\"autopilot\":{\"text\":\"HELLO UP\",\"mask\":\"*\"}}\n"
    "Each screen is a step, the JSON and line end as the unit sent them, its\n"
    "delay counted from the previous step (from the first client's connection\n"
    "for the first); a pause of more than a day is bridged by empty messages\n"
    "({}) once a day, which the client takes without a change. The file is\n"
    "created once the emulator listens. Comments hold the time in ms\n"
    "since that connection and a line the client sent, a line from the unit\n"
    "that is not a screen (\"unit: ...\") or what happened (\"-- ...\"). Lines\n"
    "of the second and later clients carry their number, \"@2\", after the\n"
    "delay or time; a replay plays the screens of all clients in the order\n"
    "they came.";

// The system takes an IPv4-mapped IPv6 address (::ffff:a.b.c.d) for the IPv4
// address a.b.c.d, on either side of a connection.
QHostAddress withoutIPv4Mapping(const QHostAddress &address)
{
    bool isIPv4 = false;
    const QHostAddress ipv4(address.toIPv4Address(&isIPv4));
    // Tolerant, the conversion would take ::1 for 127.0.0.1 as well.
    return isIPv4 && ipv4.isEqual(address, QHostAddress::ConvertV4MappedToIPv4) ? ipv4 : address;
}

} // namespace

EmulatorOptions::Outcome EmulatorOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description)
                                         .arg(RelayServer::maxSessions)
                                         .arg(DebugCommunicator::KeyDeliveryLimitMs));
    parser.addHelpOption();
    const QCommandLineOption listenOption(
        "listen", "Address to listen on (default 127.0.0.1).", "address", "127.0.0.1");
    const QCommandLineOption portOption(
        "port", QStringLiteral("TCP port to listen on (default %1).").arg(defaultPort), "port",
        QString::number(defaultPort));
    const QCommandLineOption scriptOption(
        "script", "Play the screens of a script file to each client.", "file");
    const QCommandLineOption floodOption(
        "flood", "Send each client N screens as fast as it reads them.", "N");
    const QCommandLineOption relayOption(
        "relay", "Relay each client to the unit at ADDRESS[:PORT].", "address");
    const QCommandLineOption recordOption(
        "record", "With --relay, record the session to a script file.", "file");
    parser.addOptions({ listenOption, portOption, scriptOption, floodOption, relayOption, recordOption });
    help = parser.helpText();

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet("help") || parser.isSet("help-all"))
        return Outcome::ShowHelp;
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));
    if (!Endpoint::parseAddress(parser.value(listenOption), &address))
        return fail(QStringLiteral("not an IP address: %1").arg(parser.value(listenOption)));

    if (!Endpoint::parsePort(parser.value(portOption), &port))
        return fail(QStringLiteral("not a port number (1-65535): %1").arg(parser.value(portOption)));

    const int modesSet = int(parser.isSet(scriptOption)) + int(parser.isSet(floodOption))
        + int(parser.isSet(relayOption));
    if (modesSet > 1)
        return fail(QStringLiteral("only one of --script, --flood and --relay can be used"));
    if (parser.isSet(recordOption) && !parser.isSet(relayOption))
        return fail(QStringLiteral("--record needs --relay"));
    if (parser.isSet(relayOption)) {
        mode = Mode::Relay;
        if (!Endpoint::parse(parser.value(relayOption), &relayAddress, &relayPort))
            return fail(QStringLiteral("not an IP address with an optional port: %1")
                            .arg(parser.value(relayOption)));
        if (relaysToItself())
            return fail(QStringLiteral("--relay %1 is where this emulator listens: it would relay to itself")
                            .arg(parser.value(relayOption)));
        recordFile = parser.value(recordOption);
        if (parser.isSet(recordOption) && recordFile.isEmpty())
            return fail(QStringLiteral("--record needs a file name"));
    }
    if (parser.isSet(scriptOption)) {
        mode = Mode::Script;
        scriptFile = parser.value(scriptOption);
    }
    if (parser.isSet(floodOption)) {
        mode = Mode::Flood;
        bool isNumber = false;
        const int count = parser.value(floodOption).toInt(&isNumber);
        if (!isNumber || count < 0 || count > FloodSender::maxCount)
            return fail(QStringLiteral("not a screen count (0-%1): %2")
                            .arg(FloodSender::maxCount)
                            .arg(parser.value(floodOption)));
        floodCount = count;
    }
    return Outcome::Run;
}

bool EmulatorOptions::relaysToItself() const
{
    const QHostAddress listening = withoutIPv4Mapping(address);
    const QHostAddress target = withoutIPv4Mapping(relayAddress);
    const bool listensEverywhere = listening == QHostAddress(QHostAddress::Any)
        || listening == QHostAddress(QHostAddress::AnyIPv4) || listening == QHostAddress(QHostAddress::AnyIPv6);
    return relayPort == port
        && (target.isEqual(listening, QHostAddress::StrictConversion)
            || (listensEverywhere && isOwnAddress(target)));
}

bool EmulatorOptions::isOwnAddress(const QHostAddress &candidate)
{
    if (candidate.isLoopback())
        return true;
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    return std::any_of(own.cbegin(), own.cend(), [&candidate](const QHostAddress &address) {
        return address.isEqual(candidate, QHostAddress::ConvertV4MappedToIPv4);
    });
}

EmulatorOptions::Outcome EmulatorOptions::fail(const QString &message)
{
    error = message;
    return Outcome::Error;
}
