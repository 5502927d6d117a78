#include "inprocessclient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QTcpSocket>
#include <QTimer>

InProcessClient::InProcessClient()
{
    QObject::connect(&communicator, &DebugCommunicator::autopilotScreenReceived,
                     mainWindow.screenForm(), &VelmoScreenForm::setAutopilotScreen);
    QObject::connect(&communicator, &DebugCommunicator::msgScreenReceived,
                     mainWindow.screenForm(), &VelmoScreenForm::setMsgScreen);
    QObject::connect(mainWindow.screenForm(), &VelmoScreenForm::keyboardKeyPress,
                     &communicator, &DebugCommunicator::sendKbdPress);
    autopilotScr = mainWindow.screenForm()->findChild<QLabel *>(QStringLiteral("autopilotScr"));
    mainWindow.show();
}

bool InProcessClient::connectTo(const QString &address)
{
    communicator.start(address);
    return runEventsUntil([this] { return socket()->state() == QAbstractSocket::ConnectedState; }, 10000);
}

QTcpSocket *InProcessClient::socket() const
{
    return communicator.findChild<QTcpSocket *>();
}

bool runEventsUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // Some conditions change on other threads, without an event here.
    QTimer wakeUp;
    wakeUp.start(20);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}
