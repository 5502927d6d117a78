#include "emulatoroptions.h"

#include "floodsender.h"

#include <QCommandLineParser>

namespace {

const char description[] =
    "Stands in for the control unit: listens for VelmoScreen clients, sends them\n"
    "the unit's screens as \"UI:\" lines and prints every line they send (key\n"
    "lines such as \"KBD:PUSK\") to standard output, one line each.\n"
    "\n"
    "Without --script or --flood it runs a demo autopilot shared by all clients:\n"
    "UP/DOWN/LEFT/RIGHT select a field, digits edit it, PUSK starts and stops a\n"
    "run, M opens the journal, F closes it, * raises a test alarm and #\n"
    "acknowledges it. A run stops with an alarm after 45 seconds.\n"
    "\n"
    "Script files have one step a line: <delay-ms> <json>, the delay counted\n"
    "from the previous step (from the connection for the first), the JSON a UI\n"
    "message object sent as written, e.g.\n"
    "  0 {\"autopilot\":{\"text\":\"HELLO\",\"mask\":\"*\"}}\n"
    "  500 {\"msg\":{\"visible\":true,\"text\":\"ALARM\",\"mask\":\"\",\"isAlarm\":true}}\n"
    "Blank lines and lines starting with # are skipped. Each client that\n"
    "connects gets the whole script from its start; the last screen stays.\n"
    "\n"
    "--flood N sends each client N numbered screens as fast as it reads them,\n"
    "then a screen whose first row reads \"FLOOD DONE N\".";

bool parseAddress(const QString &text, QHostAddress *address)
{
    if (text == QLatin1String("localhost")) {
        *address = QHostAddress(QHostAddress::LocalHost);
        return true;
    }
    return address->setAddress(text);
}

} // namespace

EmulatorOptions::Outcome EmulatorOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
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
    parser.addOptions({ listenOption, portOption, scriptOption, floodOption });
    help = parser.helpText();

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet("help") || parser.isSet("help-all"))
        return Outcome::ShowHelp;
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));
    if (!parseAddress(parser.value(listenOption), &address))
        return fail(QStringLiteral("not an IP address: %1").arg(parser.value(listenOption)));

    bool isNumber = false;
    const uint portValue = parser.value(portOption).toUInt(&isNumber);
    if (!isNumber || portValue < 1 || portValue > 65535)
        return fail(QStringLiteral("not a port number (1-65535): %1").arg(parser.value(portOption)));
    port = quint16(portValue);

    if (parser.isSet(scriptOption) && parser.isSet(floodOption))
        return fail(QStringLiteral("--script and --flood cannot be used together"));
    if (parser.isSet(scriptOption)) {
        mode = Mode::Script;
        scriptFile = parser.value(scriptOption);
    }
    if (parser.isSet(floodOption)) {
        mode = Mode::Flood;
        const int count = parser.value(floodOption).toInt(&isNumber);
        if (!isNumber || count < 0 || count > FloodSender::maxCount)
            return fail(QStringLiteral("not a screen count (0-%1): %2")
                            .arg(FloodSender::maxCount)
                            .arg(parser.value(floodOption)));
        floodCount = count;
    }
    return Outcome::Run;
}

EmulatorOptions::Outcome EmulatorOptions::fail(const QString &message)
{
    error = message;
    return Outcome::Error;
}
