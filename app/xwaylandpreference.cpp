#include "xwaylandpreference.h"

#include <QByteArray>

// A Wayland compositor, not the client, decides the size of a maximised or
// fullscreen window, and a client whose surface keeps another size (ours
// keeps its maximum) is cut off with a protocol error: one click on the
// maximise button of the toolkit's own title bar ended the program. Where the
// session offers X as well, the client runs there instead: the window manager
// honours the size limit as on any X desktop, and the window looks and
// behaves the same everywhere. This is the least surprising mend: nothing
// about the window changes, and a platform named by the user still wins,
// with QT_QPA_PLATFORM here and with -platform, which the toolkit prefers to
// the environment.
void preferXWayland()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}
