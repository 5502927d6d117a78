#include "clientwindow.h"

#include "clientprocess.h"
#include "xvfbserver.h"

#include <poll.h>

// Xlib's macros (None, KeyPress, ...) clash with Qt's names: include it last.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

// Waits until the display connection has something to read or `deadline`
// passes; false once it has passed.
bool waitForEvents(Display *display, Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return false;
    pollfd connection{ ConnectionNumber(display), POLLIN, 0 };
    poll(&connection, 1, int(left));
    return true;
}

} // namespace

ClientWindow::ClientWindow(const XvfbServer &x)
    : display(XOpenDisplay(qPrintable(x.display())))
{
    if (!display)
        return;
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
}

ClientWindow::~ClientWindow()
{
    if (display)
        XCloseDisplay(display);
}

double ClientWindow::start(ClientProcess &client, const QProcessEnvironment &environment)
{
    QString error;
    Clock::time_point mappedAt;
    if (!display || !client.start(environment, &error) || !waitForMap(20000, &mappedAt))
        return -1;
    XSelectInput(display, window, StructureNotifyMask);
    return microseconds(mappedAt - client.launchedAt()) / 1000;
}

bool ClientWindow::waitForMap(int timeoutMs, Clock::time_point *mappedAt)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect) {
                *mappedAt = Clock::now();
                window = event.xmap.window;
                return true;
            }
        }
    } while (waitForEvents(display, deadline));
    return false;
}

QSize ClientWindow::size() const
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) ? QSize(attributes.width, attributes.height) : QSize();
}

void ClientWindow::followSize(int ms, QSize *largest)
{
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    do {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ConfigureNotify && event.xconfigure.window == window)
                *largest = largest->expandedTo(QSize(event.xconfigure.width, event.xconfigure.height));
        }
    } while (waitForEvents(display, until));
}

void ClientWindow::focus()
{
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
}

void ClientWindow::typeKey(unsigned long keySymbol)
{
    const KeyCode code = XKeysymToKeycode(display, keySymbol);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XFlush(display);
}
