#ifndef SCREENCONDITION_H
#define SCREENCONDITION_H

#include <QRegularExpression>
#include <QString>

class UnitScreens;

// What an expectation looks for on the unit's screens.
class ScreenCondition
{
public:
    enum class Screen { Either, Autopilot, Msg };
    enum class Kind { Text, Pattern, Blinking, MsgShown, MsgHidden, MsgAlarm };

    Screen screen = Screen::Either;
    Kind kind = Kind::Text;
    QString text;
    QRegularExpression pattern;

    bool holds(const UnitScreens &screens) const;

    // Every character of the first or a later occurrence of `text` in
    // `screen` is marked '*' in `mask` (rows matched by line feeds, columns
    // by characters).
    static bool blinks(const QString &screen, const QString &mask, const QString &text);

private:
    bool holdsOn(const QString &screenText, const QString &mask) const;
};

#endif // SCREENCONDITION_H
