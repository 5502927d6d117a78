#include "unitserver.h"

#include "clientsession.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

UnitServer::UnitServer(QTcpServer *listener, QObject *parent)
    : QObject(parent)
    , listener(listener)
{
    listener->setParent(this);
    connect(listener, &QTcpServer::newConnection, this, &UnitServer::acceptConnections);
}

void UnitServer::broadcast(const QByteArray &line)
{
    for (ClientSession *session : qAsConst(sessions))
        session->send(line);
}

void UnitServer::acceptConnections()
{
    while (QTcpSocket *socket = listener->nextPendingConnection()) {
        auto *session = new ClientSession(socket, this);
        sessions.append(session);
        std::fprintf(stderr, "client %s connected\n", qPrintable(session->peerName()));
        connect(session, &ClientSession::lineReceived, this, &UnitServer::lineReceived);
        connect(session, &ClientSession::closed, this, [this, session] { dropSession(session); });
        emit sessionStarted(session);
    }
}

void UnitServer::dropSession(ClientSession *session)
{
    sessions.removeOne(session);
    std::fprintf(stderr, "client %s disconnected\n", qPrintable(session->peerName()));
}
