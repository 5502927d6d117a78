#ifndef SCREENCAPTURE_H
#define SCREENCAPTURE_H

#include <QString>

class UnitScreens;

// Both screens as files: NAME.png drawn by the client's own screen form, in
// the phase where blinking characters are shown, and NAME.txt with the text
// and masks.
namespace ScreenCapture {

bool write(const UnitScreens &screens, const QString &folder, const QString &name, QString *error);
// The text of NAME.txt: each screen's rows between bars, its mask beside them.
QString describe(const UnitScreens &screens);

} // namespace ScreenCapture

#endif // SCREENCAPTURE_H
