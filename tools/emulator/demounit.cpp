#include "demounit.h"

#include <QTimer>

#include <iterator>

namespace {

constexpr int columns = 20;
constexpr int tickIntervalMs = 1000;
constexpr int maxTurnPerTick = 3;
const QChar maskBlink('*');

struct FieldSpec
{
    const char *label;
    int row;
    int width;
    int maximum;
    const char *unit;
    int initial;
};

const FieldSpec fieldSpecs[DemoUnit::FieldCount] = {
    { "Курс задан.:", 2, 3, 359, "°", 45 },
    { "Скорость:", 4, 2, 30, " уз", 12 },
    { "Огр. руля:", 5, 2, 35, "°", 25 },
};

// Added to the heading in turn, so that the shown value moves every second
// even while the unit stands still, as a real sensor reading would.
constexpr int headingJitter[] = { 0, 1, 0, -1 };

QString spaces(int count)
{
    return QString(qMax(count, 0), QLatin1Char(' '));
}

// A row of the screen between two border characters, with `left` flush left
// and `right` flush right.
QString framedRow(QChar border, const QString &left, const QString &right = QString())
{
    return border + left + spaces(columns - 2 - left.size() - right.size()) + right + border;
}

QString titleRow(const QString &corners, const QString &line, const QString &title, int lead)
{
    const int trail = columns - 2 - lead - title.size() - 2;
    return corners.at(0) + QString(lead, line.at(0)) + ' ' + title + ' '
        + QString(trail, line.at(0)) + corners.at(1);
}

QString blinkingSpan(int from, int count)
{
    return spaces(from) + QString(count, maskBlink) + spaces(columns - from - count);
}

QStringList blankMask(int rows)
{
    QStringList mask;
    for (int i = 0; i < rows; ++i)
        mask << spaces(columns);
    return mask;
}

QString valueText(DemoUnit::Field field, int value)
{
    const FieldSpec &spec = fieldSpecs[field];
    return QStringLiteral("%1").arg(value, spec.width, 10, QLatin1Char('0'))
        + QString::fromUtf8(spec.unit);
}

QString clockText(int seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

int wrapDegrees(int degrees)
{
    return (degrees % 360 + 360) % 360;
}

} // namespace

DemoUnit::DemoUnit(QObject *parent)
    : QObject(parent)
    , clock(new QTimer(this))
{
    for (int field = 0; field < FieldCount; ++field)
        values[field] = fieldSpecs[field].initial;
    heading = values[CourseField] - 5;
    connect(clock, &QTimer::timeout, this, &DemoUnit::tick);
}

void DemoUnit::startClock()
{
    clock->start(tickIntervalMs);
}

UnitScreens DemoUnit::screens() const
{
    UnitScreens screens;
    screens.autopilotText = autopilotRows().join('\n');
    screens.autopilotMask = autopilotMaskRows().join('\n');
    screens.msgVisible = message != Message::None;
    if (screens.msgVisible) {
        screens.msgText = msgRows().join('\n');
        screens.msgMask = msgMaskRows().join('\n');
        screens.msgIsAlarm = message == Message::Alarm && !alarmAcknowledged;
    }
    return screens;
}

void DemoUnit::pressKey(const QString &key)
{
    if (applyKey(key))
        emit screensChanged();
}

void DemoUnit::tick()
{
    ++ticks;
    if (running) {
        steerTowardsCourse();
        if (++runSeconds >= overheatAfterSeconds) {
            running = false;
            raiseAlarm(QStringLiteral("ПЕРЕГРЕВ ПРИВОДА"));
        }
    }
    emit screensChanged();
}

bool DemoUnit::applyKey(const QString &key)
{
    if (key.size() == 1 && key.at(0).isDigit()) {
        editSelectedField(key.at(0).digitValue());
        return true;
    }
    if (key == QLatin1String("UP") || key == QLatin1String("LEFT")) {
        moveSelection(-1);
        return true;
    }
    if (key == QLatin1String("DOWN") || key == QLatin1String("RIGHT")) {
        moveSelection(1);
        return true;
    }
    if (key == QLatin1String("PUSK")) {
        toggleRun();
        return true;
    }
    if (key == QLatin1String("M")) {
        if (message == Message::Alarm)
            return false;
        message = Message::Journal;
        return true;
    }
    if (key == QLatin1String("F"))
        return closeMessage();
    if (key == QLatin1String("*")) {
        raiseAlarm(QStringLiteral("ТЕСТ АВАРИИ"));
        return true;
    }
    if (key == QLatin1String("#"))
        return acknowledgeAlarm();
    return false;
}

// Digits shift in from the right, as on a calculator; a value past the
// field's range starts over from the digit just typed.
void DemoUnit::editSelectedField(int digit)
{
    const FieldSpec &spec = fieldSpecs[selected];
    int limit = 1;
    for (int i = 0; i < spec.width; ++i)
        limit *= 10;
    const int shifted = (values[selected] * 10 + digit) % limit;
    values[selected] = shifted <= spec.maximum ? shifted : digit;
}

void DemoUnit::moveSelection(int step)
{
    selected = static_cast<Field>((selected + step + FieldCount) % FieldCount);
}

void DemoUnit::toggleRun()
{
    running = !running;
    if (running) {
        ++runCount;
        runSeconds = 0;
    }
}

void DemoUnit::raiseAlarm(const QString &text)
{
    ++alarmCount;
    alarmText = text;
    alarmAcknowledged = false;
    message = Message::Alarm;
}

bool DemoUnit::acknowledgeAlarm()
{
    if (message != Message::Alarm || alarmAcknowledged)
        return false;
    alarmAcknowledged = true;
    return true;
}

// An alarm stays on screen until it has been acknowledged.
bool DemoUnit::closeMessage()
{
    if (message == Message::None || (message == Message::Alarm && !alarmAcknowledged))
        return false;
    message = Message::None;
    return true;
}

void DemoUnit::steerTowardsCourse()
{
    int error = wrapDegrees(values[CourseField] - heading);
    if (error > 180)
        error -= 360;
    heading = wrapDegrees(heading + qBound(-maxTurnPerTick, error, maxTurnPerTick));
}

int DemoUnit::shownHeading() const
{
    return wrapDegrees(heading + headingJitter[ticks % int(std::size(headingJitter))]);
}

QStringList DemoUnit::autopilotRows() const
{
    const QChar side(u'║');
    QStringList rows;
    rows << titleRow(QStringLiteral("╔╗"), QStringLiteral("═"), QStringLiteral("АВТОПИЛОТ"), 1);
    rows << framedRow(side, running ? QStringLiteral("РАБОТА") : QStringLiteral("СТОП"),
                      clockText(runSeconds));
    rows << QString() << framedRow(side, QStringLiteral("Курс факт.:"),
                                   valueText(CourseField, shownHeading()));
    rows << QString() << QString();
    rows << framedRow(side, QStringLiteral("ПУСК M-жур. *-тест"));
    rows << QStringLiteral("╚") + QString(columns - 2, u'═') + QStringLiteral("╝");
    for (int field = 0; field < FieldCount; ++field) {
        const FieldSpec &spec = fieldSpecs[field];
        rows[spec.row] = framedRow(side, QString::fromUtf8(spec.label),
                                   valueText(static_cast<Field>(field), values[field]));
    }
    return rows;
}

// The digits of the selected field blink: that is the unit's field cursor.
QStringList DemoUnit::autopilotMaskRows() const
{
    const FieldSpec &spec = fieldSpecs[selected];
    const int unitLength = QString::fromUtf8(spec.unit).size();
    QStringList mask = blankMask(autopilotRows().size());
    mask[spec.row] = blinkingSpan(columns - 1 - unitLength - spec.width, spec.width);
    return mask;
}

QStringList DemoUnit::msgRows() const
{
    const QChar side(u'│');
    const QString corners = QStringLiteral("┌┐");
    const QString line = QStringLiteral("─");
    const QString bottom = QStringLiteral("└") + QString(columns - 2, u'─') + QStringLiteral("┘");
    if (message == Message::Alarm) {
        return { titleRow(corners, line, QStringLiteral("АВАРИЯ"), 5),
                 framedRow(side, alarmText),
                 framedRow(side, alarmAcknowledged ? QStringLiteral("Квитир.  F-закрыть")
                                                   : QStringLiteral("#-квитировать")),
                 bottom };
    }
    return { titleRow(corners, line, QStringLiteral("СООБЩЕНИЯ"), 3),
             framedRow(side, QStringLiteral("Пусков:"), QString::number(runCount)),
             framedRow(side, QStringLiteral("Аварий:"), QString::number(alarmCount)),
             bottom };
}

QStringList DemoUnit::msgMaskRows() const
{
    QStringList mask = blankMask(msgRows().size());
    if (message == Message::Alarm && !alarmAcknowledged)
        mask[0] = blinkingSpan(7, QStringLiteral("АВАРИЯ").size());
    return mask;
}
