#include "driveoptions.h"

#include "debugcommunicator.h"
#include "drivescript.h"
#include "endpoint.h"

#include <QCommandLineParser>
#include <QDir>

namespace {

const char description[] =
    "Runs scripts of keys and expected screens against a unit and reports them\n"
    "like tests. It connects once, before the first script, and runs the\n"
    "scripts in the order given on that connection.\n"
    "\n"
    "  velmo-drive --unit ADDRESS[:PORT] [--timeout MS] [--junit FILE]\n"
    "              [--captures DIR] SCRIPT...\n"
    "  velmo-drive --from-recording RECORDING\n"
    "\n"
    "A script has one step a line; blank lines and lines starting with # are\n"
    "skipped:\n"
    "  key NAME...            keys 0-9 RIGHT LEFT UP DOWN PUSK F M # * 8x20\n"
    "  wait MS\n"
    "  expect [autopilot|msg] \"TEXT\" [within MS]    TEXT as a JSON string\n"
    "  expect [autopilot|msg] /REGEX/ [within MS]\n"
    "  expect [autopilot|msg] blinking \"TEXT\" [within MS]\n"
    "  expect msg shown|hidden|alarm [within MS]\n"
    "  expect-not ...         any expect form: waits until it no longer holds\n"
    "  capture NAME           NAME.png and NAME.txt into the captures folder\n"
    "\n"
    "Exit status: 0 every script passed, 1 an expectation failed, 2 a bad\n"
    "option or script (nothing is sent), 3 the unit was not reached within\n"
    "5 s, closed the connection or did not acknowledge a key in time.\n"
    "\n"
    "--from-recording prints a script made from a session recorded with\n"
    "velmo-unit-emulator --relay ADDRESS --record FILE.";

} // namespace

DriveOptions::Outcome DriveOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
    parser.addHelpOption();
    const QCommandLineOption unitOption(
        "unit", QStringLiteral("The unit's address, port %1 unless given; IPv6 as [ADDRESS]:PORT.")
                    .arg(DebugCommunicator::UnitPort),
        "address");
    const QCommandLineOption timeoutOption(
        "timeout", "How long an expect without \"within\" waits (default 5000).", "ms", "5000");
    const QCommandLineOption junitOption("junit", "Write a JUnit XML report to FILE.", "file");
    const QCommandLineOption capturesOption(
        "captures", "Folder for captures and failure pictures (default: the working directory).", "dir");
    const QCommandLineOption recordingOption(
        "from-recording", "Print a script made from a recorded session.", "recording");
    parser.addOptions({ unitOption, timeoutOption, junitOption, capturesOption, recordingOption });
    parser.addPositionalArgument("script", "Script files, run in this order.", "SCRIPT...");
    help = parser.helpText();

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet("help") || parser.isSet("help-all"))
        return Outcome::ShowHelp;
    scriptFiles = parser.positionalArguments();
    if (parser.isSet(recordingOption)) {
        if (parser.isSet(unitOption) || !scriptFiles.isEmpty())
            return fail(QStringLiteral("--from-recording takes no unit and no scripts"));
        recordingFile = parser.value(recordingOption);
        return Outcome::ConvertRecording;
    }
    if (!parser.isSet(unitOption))
        return fail(QStringLiteral("--unit is required: the drive presses keys on real equipment"));
    port = DebugCommunicator::UnitPort;
    if (!Endpoint::parse(parser.value(unitOption), &address, &port))
        return fail(QStringLiteral("not an IP address with an optional port: %1").arg(parser.value(unitOption)));
    bool isNumber = false;
    timeoutMs = parser.value(timeoutOption).toInt(&isNumber);
    if (!isNumber || timeoutMs < 0 || timeoutMs > DriveScript::maxMs)
        return fail(QStringLiteral("not a time in ms (0 to %1): %2")
                        .arg(DriveScript::maxMs)
                        .arg(parser.value(timeoutOption)));
    junitFile = parser.value(junitOption);
    capturesFolder = parser.isSet(capturesOption) ? parser.value(capturesOption) : QDir::currentPath();
    if (scriptFiles.isEmpty())
        return fail(QStringLiteral("no script given"));
    return Outcome::Run;
}

DriveOptions::Outcome DriveOptions::fail(const QString &message)
{
    error = message;
    return Outcome::Error;
}
