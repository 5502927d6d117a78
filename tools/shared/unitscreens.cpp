#include "unitscreens.h"

#include <QJsonDocument>
#include <QJsonObject>

QByteArray UnitScreens::toUiLine() const
{
    const QJsonObject autopilot{
        { "text", autopilotText },
        { "mask", autopilotMask },
    };
    const QJsonObject msg{
        { "visible", msgVisible },
        { "text", msgText },
        { "mask", msgMask },
        { "isAlarm", msgIsAlarm },
    };
    const QJsonObject message{ { "autopilot", autopilot }, { "msg", msg } };
    return "UI:" + QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}
