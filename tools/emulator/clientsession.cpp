#include "clientsession.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <cstdio>

ClientSession::ClientSession(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , connection(socket)
    , peer(QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()))
{
    connection->setParent(this);
    connect(connection, &QTcpSocket::readyRead, this, &ClientSession::readLines);
    connect(connection, &QTcpSocket::disconnected, this, &ClientSession::finish);
}

void ClientSession::send(const QByteArray &line)
{
    if (connection->state() == QAbstractSocket::ConnectedState)
        connection->write(line);
}

void ClientSession::readLines()
{
    while (connection->canReadLine()) {
        QByteArray line = connection->readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        emit lineReceived(line);
    }
    if (connection->bytesAvailable() > maxLineBytes) {
        std::fprintf(stderr, "client %s sent a line longer than %lld bytes, dropping it\n",
                     qPrintable(peer), static_cast<long long>(maxLineBytes));
        connection->abort();
        finish();
    }
}

void ClientSession::finish()
{
    if (finished)
        return;
    finished = true;
    emit closed();
    deleteLater();
}
