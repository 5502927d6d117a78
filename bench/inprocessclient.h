#ifndef INPROCESSCLIENT_H
#define INPROCESSCLIENT_H

#include "debugcommunicator.h"
#include "mainwindow.h"
#include "velmoscreenform.h"

#include <functional>

QT_BEGIN_NAMESPACE
class QLabel;
class QTcpSocket;
QT_END_NAMESPACE

// The client's link and main window in this process, wired as start-up wires
// them, with the window shown: every layout above the screens takes part, as
// in the real program.
class InProcessClient
{
public:
    InProcessClient();

    // Starts the link and waits until it is connected.
    bool connectTo(const QString &address);

    DebugCommunicator &link() { return communicator; }
    MainWindow &window() { return mainWindow; }
    VelmoScreenForm &form() { return *mainWindow.screenForm(); }
    QLabel *autopilotLabel() const { return autopilotScr; }
    QTcpSocket *socket() const;

private:
    DebugCommunicator communicator;
    MainWindow mainWindow;
    QLabel *autopilotScr;
};

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns `done()`.
bool runEventsUntil(const std::function<bool()> &done, int timeoutMs);

#endif // INPROCESSCLIENT_H
