#ifndef UNITSERVER_H
#define UNITSERVER_H

#include <QList>
#include <QObject>

QT_BEGIN_NAMESPACE
class QTcpServer;
QT_END_NAMESPACE

class ClientSession;

// Accepts any number of clients; a client that leaves is dropped on its own.
class UnitServer : public QObject
{
    Q_OBJECT

public:
    // Takes over `listener`, which already listens.
    explicit UnitServer(QTcpServer *listener, QObject *parent = nullptr);

    void broadcast(const QByteArray &line);
    int sessionCount() const { return sessions.size(); }

signals:
    void sessionStarted(ClientSession *session);
    void lineReceived(const QByteArray &line);

private:
    void acceptConnections();
    void dropSession(ClientSession *session);

    QTcpServer *const listener;
    QList<ClientSession *> sessions;
};

#endif // UNITSERVER_H
