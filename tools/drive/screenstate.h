#ifndef SCREENSTATE_H
#define SCREENSTATE_H

#include "unitscreens.h"

#include <QObject>

class DebugCommunicator;

// The unit's screens as the last "UI" lines left them, as the client keeps
// them: each line may carry either screen or both.
class ScreenState : public QObject
{
    Q_OBJECT

public:
    explicit ScreenState(QObject *parent = nullptr);

    void follow(DebugCommunicator *link);

    const UnitScreens &screens() const { return current; }
    // Nothing can be judged before the unit's first screen.
    bool hasScreens() const { return received; }

signals:
    // Once for each "UI" line, after both of its screens have been taken.
    void changed();

private:
    void setAutopilot(const QString &text, const QString &mask);
    void setMsg(bool visible, const QString &text, const QString &mask, bool isAlarm);

    UnitScreens current;
    bool received = false;
};

#endif // SCREENSTATE_H
