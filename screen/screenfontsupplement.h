#ifndef SCREENFONTSUPPLEMENT_H
#define SCREENFONTSUPPLEMENT_H

#include <QString>

// The screen font lacks a few characters the unit may send (heavy box lines,
// some operators and letterlike symbols). The supplement carries glyphs for
// them, with the screen font's cell and line metrics, so they are drawn in
// their cells rather than in whatever font the computer happens to have.
namespace ScreenFontSupplement {

// Registers the embedded supplement and has the toolkit try it first for
// characters the screen family lacks. Returns the supplement's family, or an
// empty string when it could not be registered.
QString install();

} // namespace ScreenFontSupplement

#endif // SCREENFONTSUPPLEMENT_H
