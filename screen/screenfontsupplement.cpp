#include "screenfontsupplement.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace ScreenFontSupplement {

QString install()
{
    // The family of the screen form's labels.
    const QString screenFamily = QStringLiteral("Ubuntu Mono");
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/VelmoScreenSupplement.ttf"));
    const QString family = QFontDatabase::applicationFontFamilies(id).value(0);
    // A substitute is only asked for glyphs the requested family lacks, so
    // every character the screen font has keeps its own glyph.
    if (!family.isEmpty() && !QFont::substitutes(screenFamily).contains(family))
        QFont::insertSubstitution(screenFamily, family);
    return family;
}

} // namespace ScreenFontSupplement
