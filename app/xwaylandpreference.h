#ifndef XWAYLANDPREFERENCE_H
#define XWAYLANDPREFERENCE_H

// Where the session offers both Wayland and X (XWayland), and the user has
// named no platform, makes the toolkit run the client on X; called before the
// application object exists, which reads the choice from the environment.
void preferXWayland();

#endif // XWAYLANDPREFERENCE_H
