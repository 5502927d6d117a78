#include "inprocessclient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QTcpSocket>
#include <QTimer>

InProcessClient::InProcessClient()
{
    QObject::connect(&communicator, &DebugCommunicator::autopilotScreenReceived,
                     &screenForm, &VelmoScreenForm::setAutopilotScreen);
    QObject::connect(&communicator, &DebugCommunicator::msgScreenReceived,
                     &screenForm, &VelmoScreenForm::setMsgScreen);
    QObject::connect(&screenForm, &VelmoScreenForm::keyboardKeyPress,
                     &communicator, &DebugCommunicator::sendKbdPress);
    autopilotScr = screenForm.findChild<QLabel *>(QStringLiteral("autopilotScr"));
    screenForm.show();
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
