#include "screenfonts.h"

#include "screenfontsupplement.h"

#include <QDebug>
#include <QFontDatabase>
#include <QStringList>

namespace ScreenFonts {

int install()
{
    const int fontId = QFontDatabase::addApplicationFont(QStringLiteral(":/VelmoScreenFont.ttf"));
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    // Without the embedded font the screens fall back to a system font;
    // the client stays usable, so say so and carry on.
    if (families.isEmpty()) {
        qWarning("VelmoScreenFont: could not be registered, the screens use a fallback font");
        return fontId;
    }
    qDebug() << "VelmoScreenFont: " << families.first();
    if (ScreenFontSupplement::install().isEmpty())
        qWarning("VelmoScreenSupplement: could not be registered, a few characters use a fallback font");
    return fontId;
}

} // namespace ScreenFonts
