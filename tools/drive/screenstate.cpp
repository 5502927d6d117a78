#include "screenstate.h"

#include "debugcommunicator.h"

ScreenState::ScreenState(QObject *parent)
    : QObject(parent)
{
}

void ScreenState::follow(DebugCommunicator *link)
{
    connect(link, &DebugCommunicator::autopilotScreenReceived, this, &ScreenState::setAutopilot);
    connect(link, &DebugCommunicator::msgScreenReceived, this, &ScreenState::setMsg);
    connect(link, &DebugCommunicator::uiMessageHandled, this, &ScreenState::changed);
}

void ScreenState::setAutopilot(const QString &text, const QString &mask)
{
    current.autopilotText = text;
    current.autopilotMask = mask;
    received = true;
}

// A hidden message screen keeps the text it had, as the client's does; the
// text counts only while the screen is shown.
void ScreenState::setMsg(bool visible, const QString &text, const QString &mask, bool isAlarm)
{
    current.msgVisible = visible;
    if (visible) {
        current.msgText = text;
        current.msgMask = mask;
    }
    current.msgIsAlarm = isAlarm;
    received = true;
}
