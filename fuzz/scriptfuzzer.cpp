// Fuzzes the emulator's script reader, which reads files that users write and
// recordings that the relay writes, and checks what must hold for any input:
// a parse that succeeds yields at least one step, each a whole "UI:" line with
// a JSON object and a delay the player can wait; one that fails names a line
// of the input or says that there is no screen, and leaves the earlier script.

#include "unitscript.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char *what, const QByteArray &input, const QString &detail = {})
{
    if (condition)
        return;
    std::fprintf(stderr, "script reader: %s\n input: %s\n %s\n", what,
                 input.left(2000).toPercentEncoding(" ").constData(), qPrintable(detail));
    std::abort();
}

void checkStep(const UnitScript::Step &step, const QByteArray &input)
{
    const QByteArray &line = step.uiLine;
    require(step.delayMs >= 0 && step.delayMs <= UnitScript::maxDelayMs, "delay out of range", input);
    require(line.startsWith("UI:") && line.endsWith('\n') && line.indexOf('\n') == line.size() - 1,
            "not one whole UI line", input, QString::fromUtf8(line.toPercentEncoding(" ")));
    require(QJsonDocument::fromJson(line.mid(3)).isObject(), "message is not a JSON object", input,
            QString::fromUtf8(line.toPercentEncoding(" ")));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    UnitScript script;
    QString error;
    require(script.parse("0 {}", &error), "the smallest script is refused", input, error);
    if (script.parse(input, &error)) {
        require(!script.steps().isEmpty(), "a script without steps is taken", input);
        require(script.steps().size() <= input.count('\n') + 1, "more steps than lines", input);
        for (const UnitScript::Step &step : script.steps())
            checkStep(step, input);
        // Parsing is a function of the text alone.
        UnitScript again;
        require(again.parse(input, &error) && again.steps().size() == script.steps().size(),
                "a second parse differs", input, error);
        return 0;
    }
    const bool namesALine = error.startsWith(QLatin1String("line "))
        && error.mid(5, error.indexOf(QLatin1Char(':')) - 5).toInt() >= 1
        && error.mid(5, error.indexOf(QLatin1Char(':')) - 5).toInt() <= input.count('\n') + 1;
    require(namesALine || error == QLatin1String("the script has no screens"), "unexpected error", input, error);
    require(script.steps().size() == 1 && script.steps().first().uiLine == "UI:{}\n",
            "a failed parse changed the script", input);
    return 0;
}
