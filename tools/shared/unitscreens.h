#ifndef UNITSCREENS_H
#define UNITSCREENS_H

#include <QByteArray>
#include <QString>

// Everything the unit shows at one moment. The unit always sends both screens
// whole, so one value of this class is one "UI:" line.
class UnitScreens
{
public:
    QString autopilotText;
    QString autopilotMask;
    bool msgVisible = false;
    QString msgText;
    QString msgMask;
    bool msgIsAlarm = false;

    QByteArray toUiLine() const;
};

#endif // UNITSCREENS_H
