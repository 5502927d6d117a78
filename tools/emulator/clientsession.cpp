#include "clientsession.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <cstdio>

namespace {

enum Screen { AutopilotScreen = 1, MsgScreen = 2 };

// The screens a "UI:" line sets, as flags; a client takes each member on its
// own, so a later line that sets the same screens leaves nothing of this one.
int screensSetBy(const QByteArray &uiLine)
{
    const QJsonObject message = QJsonDocument::fromJson(uiLine.mid(3)).object();
    return (message.contains(QLatin1String("autopilot")) ? AutopilotScreen : 0)
        | (message.contains(QLatin1String("msg")) ? MsgScreen : 0);
}

} // namespace

ClientSession::ClientSession(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , connection(socket)
    , peer(QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()))
    , reader(maxLineBytes)
{
    connection->setParent(this);
    connect(connection, &QTcpSocket::readyRead, this, &ClientSession::readLines);
    connect(connection, &QTcpSocket::bytesWritten, this, &ClientSession::writeHeldLines);
    connect(connection, &QTcpSocket::disconnected, this, &ClientSession::finish);
}

bool ClientSession::isKeepingUp() const
{
    return connection->bytesToWrite() < maxUnsentBytes;
}

void ClientSession::send(const QByteArray &uiLine)
{
    if (connection->state() != QAbstractSocket::ConnectedState)
        return;
    if (heldLines.isEmpty() && isKeepingUp())
        connection->write(uiLine);
    else
        hold(uiLine);
}

void ClientSession::hold(const QByteArray &uiLine)
{
    heldLines.append({ uiLine, screensSetBy(uiLine) });
    int setLater = heldLines.last().screens;
    for (int i = heldLines.size() - 2; i >= 0; --i) {
        const int screens = heldLines.at(i).screens;
        if ((screens & ~setLater) == 0)
            heldLines.remove(i);
        setLater |= screens;
    }
}

void ClientSession::writeHeldLines()
{
    if (heldLines.isEmpty() || !isKeepingUp())
        return;
    for (const HeldLine &held : qAsConst(heldLines))
        connection->write(held.uiLine);
    heldLines.clear();
}

void ClientSession::readLines()
{
    bool overlong = false;
    for (const LineReader::Line &line : reader.append(connection->readAll())) {
        overlong = overlong || line.isDropped();
        if (!overlong)
            emit lineReceived(line.text);
    }
    if (overlong || reader.unfinishedLength() > maxLineBytes) {
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
