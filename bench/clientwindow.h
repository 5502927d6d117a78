#ifndef CLIENTWINDOW_H
#define CLIENTWINDOW_H

#include "measurements.h"

#include <QSize>
#include <QString>

class ClientProcess;
class XvfbServer;

QT_BEGIN_NAMESPACE
class QProcessEnvironment;
QT_END_NAMESPACE

// The real client's window on a private X server, watched through an X
// connection of the measurement's own: when it is mapped, its size, and keys
// typed into it through the XTEST extension, as a keyboard would type them.
class ClientWindow
{
public:
    explicit ClientWindow(const XvfbServer &x);
    ~ClientWindow();
    ClientWindow(const ClientWindow &) = delete;
    ClientWindow &operator=(const ClientWindow &) = delete;

    bool isOpen() const { return display != nullptr; }

    // Starts the client and waits for its window to be mapped. Returns the
    // time from launching the process to the map in milliseconds, or -1.
    double start(ClientProcess &client, const QProcessEnvironment &environment);

    QSize size() const;
    // Follows the window's size for `ms` milliseconds, widening `largest`
    // to every size the window takes meanwhile.
    void followSize(int ms, QSize *largest);
    // There is no window manager to give the window the keyboard focus.
    void focus();
    // Presses and releases a key (an X key symbol); returns when the X
    // server has taken both.
    void typeKey(unsigned long keySymbol);

private:
    bool waitForMap(int timeoutMs, Clock::time_point *mappedAt);

    struct _XDisplay *display;
    unsigned long window = 0;
};

#endif // CLIENTWINDOW_H
