#include "screencapture.h"

#include "unitscreens.h"
#include "velmoscreenform.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QStringList>

namespace ScreenCapture {

namespace {

QString framedRows(const QString &text, const QString &mask)
{
    const QStringList rows = text.split(QLatin1Char('\n'));
    const QStringList maskRows = mask.split(QLatin1Char('\n'));
    QString framed;
    for (int i = 0; i < rows.size(); ++i) {
        const QString maskRow = i < maskRows.size() ? maskRows.at(i) : QString();
        framed += QStringLiteral("  |%1|  |%2|\n").arg(rows.at(i), maskRow);
    }
    return framed;
}

QString msgState(const UnitScreens &screens)
{
    if (!screens.msgVisible)
        return QStringLiteral("hidden");
    return screens.msgIsAlarm ? QStringLiteral("shown, alarm") : QStringLiteral("shown");
}

bool writeText(const QString &fileName, const QString &text, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

// A new form starts in the phase where blinking characters are shown, and
// nothing here lets its blink timer run.
QImage picture(const UnitScreens &screens)
{
    VelmoScreenForm form;
    form.setAutopilotScreen(screens.autopilotText, screens.autopilotMask);
    form.setMsgScreen(screens.msgVisible, screens.msgText, screens.msgMask, screens.msgIsAlarm);
    form.adjustSize();
    return form.grab().toImage();
}

} // namespace

QString describe(const UnitScreens &screens)
{
    QString text = QStringLiteral("autopilot screen (text, then mask):\n");
    text += framedRows(screens.autopilotText, screens.autopilotMask);
    text += QStringLiteral("message screen, %1:\n").arg(msgState(screens));
    if (screens.msgVisible)
        text += framedRows(screens.msgText, screens.msgMask);
    return text;
}

bool write(const UnitScreens &screens, const QString &folder, const QString &name, QString *error)
{
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot make the captures folder %1").arg(folder);
        return false;
    }
    const QString base = QDir(folder).filePath(name);
    if (!picture(screens).save(base + QStringLiteral(".png"), "PNG")) {
        *error = QStringLiteral("cannot write %1.png").arg(base);
        return false;
    }
    return writeText(base + QStringLiteral(".txt"), describe(screens), error);
}

} // namespace ScreenCapture
