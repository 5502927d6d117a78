#ifndef SCREENFONTS_H
#define SCREENFONTS_H

// The fonts the screens are drawn in, embedded in the program: the screen
// font and its supplement (see screenfontsupplement.h).
namespace ScreenFonts {

// Registers both, once the application object exists, and logs the screen
// font's family. A font that cannot be registered is logged too; the screens
// then use a font of the computer's in its place. Returns the screen font's
// id, or -1 when it could not be registered.
int install();

} // namespace ScreenFonts

#endif // SCREENFONTS_H
