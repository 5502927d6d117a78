#ifndef RELAYSERVER_H
#define RELAYSERVER_H

#include <QHostAddress>
#include <QObject>

QT_BEGIN_NAMESPACE
class QTcpServer;
QT_END_NAMESPACE

class SessionRecorder;

// Relays every client that connects to the unit, each over a connection of
// its own, and records them all with one recorder, if given.
class RelayServer : public QObject
{
    Q_OBJECT

public:
    // A unit has a handful of clients at most. The bound keeps a relay that
    // reaches itself after all (through an address it cannot know as its own)
    // from chaining sessions until it runs out of descriptors.
    static constexpr int maxSessions = 32;

    // Takes over `listener`, which already listens.
    RelayServer(QTcpServer *listener, const QHostAddress &unitAddress, quint16 unitPort,
                SessionRecorder *recorder, QObject *parent = nullptr);

signals:
    void lineReceived(const QByteArray &line);

private:
    void acceptConnections();

    QTcpServer *const listener;
    const QHostAddress unitAddress;
    const quint16 unitPort;
    SessionRecorder *const recorder;
    int clientCount = 0;
    int sessionCount = 0;
};

#endif // RELAYSERVER_H
