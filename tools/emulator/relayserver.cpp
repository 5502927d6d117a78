#include "relayserver.h"

#include "endpoint.h"
#include "relaysession.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

RelayServer::RelayServer(QTcpServer *listener, const QHostAddress &unitAddress, quint16 unitPort,
                         SessionRecorder *recorder, QObject *parent)
    : QObject(parent)
    , listener(listener)
    , unitAddress(unitAddress)
    , unitPort(unitPort)
    , recorder(recorder)
{
    listener->setParent(this);
    connect(listener, &QTcpServer::newConnection, this, &RelayServer::acceptConnections);
}

void RelayServer::acceptConnections()
{
    while (QTcpSocket *socket = listener->nextPendingConnection()) {
        if (sessionCount >= maxSessions) {
            std::fprintf(stderr, "client %s turned away: %d clients are relayed already\n",
                         qPrintable(Endpoint::name(socket->peerAddress(), socket->peerPort())),
                         sessionCount);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++sessionCount;
        auto *session = new RelaySession(socket, ++clientCount, unitAddress, unitPort, recorder, this);
        std::fprintf(stderr, "client %s connected\n", qPrintable(session->clientName()));
        connect(session, &RelaySession::clientLineReceived, this, &RelayServer::lineReceived);
        connect(session, &RelaySession::closed, this, [this] { --sessionCount; });
    }
}
