#include "screencondition.h"

#include "unitscreens.h"

#include <QStringList>

bool ScreenCondition::holds(const UnitScreens &screens) const
{
    switch (kind) {
    case Kind::MsgShown:
        return screens.msgVisible;
    case Kind::MsgHidden:
        return !screens.msgVisible;
    case Kind::MsgAlarm:
        return screens.msgVisible && screens.msgIsAlarm;
    default:
        break;
    }
    const bool onAutopilot = screen != Screen::Msg && holdsOn(screens.autopilotText, screens.autopilotMask);
    const bool onMsg = screen != Screen::Autopilot && screens.msgVisible
        && holdsOn(screens.msgText, screens.msgMask);
    return onAutopilot || onMsg;
}

bool ScreenCondition::holdsOn(const QString &screenText, const QString &mask) const
{
    switch (kind) {
    case Kind::Text:
        return screenText.contains(text);
    case Kind::Pattern:
        return pattern.match(screenText).hasMatch();
    case Kind::Blinking:
        return blinks(screenText, mask, text);
    default:
        return false;
    }
}

bool ScreenCondition::blinks(const QString &screen, const QString &mask, const QString &text)
{
    if (text.isEmpty())
        return false;
    const QStringList maskRows = mask.split(QLatin1Char('\n'));
    for (int from = screen.indexOf(text); from >= 0; from = screen.indexOf(text, from + 1)) {
        const int rowStart = screen.lastIndexOf(QLatin1Char('\n'), from) + 1;
        int row = screen.left(rowStart).count(QLatin1Char('\n'));
        int column = from - rowStart;
        bool allBlink = true;
        for (int i = from; i < from + text.size() && allBlink; ++i) {
            if (screen.at(i) == QLatin1Char('\n')) {
                ++row;
                column = 0;
                continue;
            }
            const QString maskRow = row < maskRows.size() ? maskRows.at(row) : QString();
            allBlink = column < maskRow.size() && maskRow.at(column) == QLatin1Char('*');
            ++column;
        }
        if (allBlink)
            return true;
    }
    return false;
}
