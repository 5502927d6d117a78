#include "drivescript.h"

#include "scriptfile.h"
#include "unitkeys.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {

// Qt's reader takes an unknown escape such as "\x" for the letter itself;
// JSON does not.
bool hasJsonEscapesOnly(const QByteArray &json)
{
    static const QByteArray escapes("\"\\/bfnrtu");
    static const QRegularExpression hexDigits(QStringLiteral("^[0-9A-Fa-f]{4}"));
    for (int i = 0; i < json.size(); ++i) {
        if (json.at(i) != '\\')
            continue;
        const char escape = i + 1 < json.size() ? json.at(i + 1) : '\0';
        if (!escapes.contains(escape)
            || (escape == 'u' && !hexDigits.match(QString::fromLatin1(json.mid(i + 2, 4))).hasMatch()))
            return false;
        ++i;
    }
    return true;
}

// Reads one line's words from left to right; a word is either a run of
// non-blank characters, a JSON string or a /regex/.
class StepReader
{
public:
    explicit StepReader(const QString &text) : text(text) {}

    bool atEnd()
    {
        skipBlanks();
        return position >= text.size();
    }

    QChar peek()
    {
        skipBlanks();
        return position < text.size() ? text.at(position) : QChar();
    }

    QString word()
    {
        skipBlanks();
        const int start = position;
        while (position < text.size() && !text.at(position).isSpace())
            ++position;
        return text.mid(start, position - start);
    }

    bool jsonString(QString *value, QString *problem)
    {
        const int start = position;
        const int end = closingMark(QLatin1Char('"'));
        const QByteArray json = "[" + text.mid(start, end - start).toUtf8() + "]";
        const QJsonArray array = QJsonDocument::fromJson(json).array();
        if (end < 0 || !hasJsonEscapesOnly(json) || array.size() != 1 || !array.at(0).isString()) {
            *problem = QStringLiteral("expected a text in double quotes, written as JSON");
            return false;
        }
        *value = array.at(0).toString();
        return true;
    }

    // Between slashes; "\/" stands for a slash, other escapes are the
    // expression's own.
    bool regex(QString *pattern, QString *problem)
    {
        const int start = position;
        const int end = closingMark(QLatin1Char('/'));
        if (end < 0) {
            *problem = QStringLiteral("a regular expression has no closing \"/\"");
            return false;
        }
        *pattern = text.mid(start + 1, end - start - 2).replace(QLatin1String("\\/"), QLatin1String("/"));
        return true;
    }

private:
    void skipBlanks()
    {
        while (position < text.size() && text.at(position).isSpace())
            ++position;
    }

    // From an opening mark, past the unescaped closing one; -1 when there is none.
    int closingMark(QChar mark)
    {
        for (int i = position + 1; i < text.size(); ++i) {
            if (text.at(i) == QLatin1Char('\\')) {
                ++i;
            } else if (text.at(i) == mark) {
                position = i + 1;
                return position;
            }
        }
        return -1;
    }

    QString text;
    int position = 0;
};

bool parseMs(const QString &word, int *ms, QString *problem)
{
    bool isNumber = false;
    const int value = word.toInt(&isNumber);
    if (!isNumber || value < 0 || value > DriveScript::maxMs) {
        *problem = QStringLiteral("\"%1\" is not a time in ms (0 to %2)").arg(word).arg(DriveScript::maxMs);
        return false;
    }
    *ms = value;
    return true;
}

bool parseKeys(StepReader &reader, DriveScript::Step *step, QString *problem)
{
    while (!reader.atEnd()) {
        const QString name = reader.word();
        if (!UnitKeys::isKey(name)) {
            *problem = QStringLiteral("unknown key \"%1\" (the keys: %2)")
                           .arg(name, UnitKeys::names().join(QLatin1Char(' ')));
            return false;
        }
        step->keys << name;
    }
    if (step->keys.isEmpty()) {
        *problem = QStringLiteral("\"key\" needs at least one key name");
        return false;
    }
    return true;
}

bool parseMsgState(const QString &word, ScreenCondition *condition)
{
    using Kind = ScreenCondition::Kind;
    const QVector<QPair<QString, Kind>> states = { { "shown", Kind::MsgShown },
                                                   { "hidden", Kind::MsgHidden },
                                                   { "alarm", Kind::MsgAlarm } };
    for (const auto &state : states) {
        if (word == state.first) {
            condition->kind = state.second;
            return true;
        }
    }
    return false;
}

bool parseMatch(StepReader &reader, ScreenCondition *condition, QString *problem)
{
    using Kind = ScreenCondition::Kind;
    const QChar next = reader.peek();
    if (next == QLatin1Char('"'))
        return reader.jsonString(&condition->text, problem);
    if (next == QLatin1Char('/')) {
        condition->kind = Kind::Pattern;
        QString pattern;
        if (!reader.regex(&pattern, problem))
            return false;
        condition->pattern.setPattern(pattern);
        if (!condition->pattern.isValid()) {
            *problem = QStringLiteral("the regular expression does not compile: %1 at offset %2")
                           .arg(condition->pattern.errorString())
                           .arg(condition->pattern.patternErrorOffset());
            return false;
        }
        return true;
    }
    const QString word = reader.word();
    if (word == QLatin1String("blinking") && reader.peek() == QLatin1Char('"')) {
        condition->kind = Kind::Blinking;
        return reader.jsonString(&condition->text, problem);
    }
    if (condition->screen == ScreenCondition::Screen::Msg && parseMsgState(word, condition))
        return true;
    *problem = QStringLiteral("expected \"TEXT\", /REGEX/, blinking \"TEXT\" or, after msg, "
                              "shown, hidden or alarm");
    return false;
}

bool parseExpect(StepReader &reader, DriveScript::Step *step, QString *problem)
{
    ScreenCondition &condition = step->condition;
    if (reader.peek() != QLatin1Char('"') && reader.peek() != QLatin1Char('/')) {
        StepReader lookahead = reader;
        const QString word = lookahead.word();
        if (word == QLatin1String("autopilot") || word == QLatin1String("msg")) {
            condition.screen = word == QLatin1String("msg") ? ScreenCondition::Screen::Msg
                                                              : ScreenCondition::Screen::Autopilot;
            reader = lookahead;
        }
    }
    if (!parseMatch(reader, &condition, problem))
        return false;
    if (reader.atEnd())
        return true;
    if (reader.word() != QLatin1String("within") || reader.atEnd()) {
        *problem = QStringLiteral("expected \"within MS\" or the end of the line");
        return false;
    }
    if (!parseMs(reader.word(), &step->ms, problem))
        return false;
    return true;
}

bool isCaptureName(const QString &name)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    return allowed.match(name).hasMatch() && !name.startsWith(QLatin1Char('.'));
}

bool parseStep(const QString &text, DriveScript::Step *step, QString *problem)
{
    using Kind = DriveScript::Step::Kind;
    StepReader reader(text);
    const QString name = reader.word();
    if (name == QLatin1String("key")) {
        step->kind = Kind::Key;
        return parseKeys(reader, step, problem);
    }
    if (name == QLatin1String("expect") || name == QLatin1String("expect-not")) {
        step->kind = Kind::Expect;
        step->negated = name == QLatin1String("expect-not");
        if (!parseExpect(reader, step, problem))
            return false;
    } else if (name == QLatin1String("wait")) {
        step->kind = Kind::Wait;
        if (!parseMs(reader.word(), &step->ms, problem))
            return false;
    } else if (name == QLatin1String("capture")) {
        step->kind = Kind::Capture;
        step->captureName = reader.word();
        if (!isCaptureName(step->captureName)) {
            *problem = QStringLiteral("\"capture\" needs a name of letters, digits, '.', '_' and '-'");
            return false;
        }
    } else {
        *problem = QStringLiteral("unknown step \"%1\" (the steps: key, wait, expect, expect-not, capture)")
                       .arg(name);
        return false;
    }
    if (!reader.atEnd()) {
        *problem = QStringLiteral("unexpected \"%1\" at the end of the line").arg(reader.word());
        return false;
    }
    return true;
}

} // namespace

bool DriveScript::load(const QString &fileName, QString *error)
{
    path = fileName;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(fileName, file.errorString());
        return false;
    }
    return parse(file.readAll(), error);
}

bool DriveScript::parse(const QByteArray &text, QString *error)
{
    const auto readStep = [](const ScriptFile::Line &line, Step *step, QString *problem) {
        step->line = line.number;
        step->source = QString::fromUtf8(line.text).trimmed();
        return parseStep(step->source, step, problem);
    };
    QVector<Step> parsed;
    int faultyLine = 0;
    QString problem;
    if (!ScriptFile::readSteps(text, maxLineBytes, readStep, &parsed, &faultyLine, &problem)) {
        *error = QStringLiteral("%1:%2: %3").arg(path).arg(faultyLine).arg(problem);
        return false;
    }
    scriptSteps = parsed;
    return true;
}
