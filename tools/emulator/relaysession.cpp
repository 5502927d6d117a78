#include "relaysession.h"

#include "clientsession.h"
#include "connectiontail.h"
#include "deadpeerdetection.h"
#include "debugcommunicator.h"
#include "deliverydeadline.h"
#include "endpoint.h"
#include "sessionrecorder.h"

#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <limits>

RelaySession::RelaySession(QTcpSocket *client, int number, const QHostAddress &unitAddress,
                           quint16 unitPort, SessionRecorder *recorder, QObject *parent)
    : QObject(parent)
    , client(client)
    , unit(new QTcpSocket(this))
    // The client counts a key as delivered once the relay has acknowledged
    // it, so its promise of delivery within its limit or never has to be kept
    // on the relay's path to the unit.
    , unitDeadline(new DeliveryDeadline(unit, DebugCommunicator::KeyDeliveryLimitMs, this))
    , clientTail(new ConnectionTail(client->socketDescriptor(), this))
    , connectTimer(new QTimer(this))
    , number(number)
    , clientPeer(Endpoint::name(client->peerAddress(), client->peerPort()))
    , unitName(Endpoint::name(unitAddress, unitPort))
    , recorder(recorder)
    // The client drops longer screen lines, and sends nothing but short keys.
    , clientLines(ClientSession::maxLineBytes)
    , unitLines(DebugCommunicator::MaxLineLength)
{
    client->setParent(this);
    for (QTcpSocket *socket : { client, unit })
        socket->setReadBufferSize(maxUnsentBytes);
    client->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    connect(client, &QTcpSocket::readyRead, this, [this] {
        if (unitWasConnected)
            forward(Direction::ToUnit);
        else
            dropClientLines();
    });
    connect(unit, &QTcpSocket::bytesWritten, this, [this] {
        forward(Direction::ToUnit);
        passHalfCloseOnceWritten();
    });
    connect(unit, &QTcpSocket::readyRead, this, [this] { forward(Direction::ToClient); });
    connect(client, &QTcpSocket::bytesWritten, this, [this] { forward(Direction::ToClient); });
    connect(client, &QTcpSocket::disconnected, this, &RelaySession::clientClosed);
    connect(clientTail, &ConnectionTail::bytesWritten, this, [this] {
        forward(Direction::ToClient);
        if (finishing && clientTail->bytesToWrite() == 0) {
            clientTail->close();
            deleteOnceClosed();
        }
    });
    connect(clientTail, &ConnectionTail::failed, this, [this](const QString &problem) {
        finish(QStringLiteral("client %1 went away: %2").arg(clientPeer, problem));
    });
    connect(unit, &QTcpSocket::connected, this, &RelaySession::unitConnected);
    connect(unitDeadline, &DeliveryDeadline::dropped, this, &RelaySession::unitTooLate);
    // Queued, so that the socket has finished its own handling of the failure
    // before this closes it.
    connect(unit, &QTcpSocket::errorOccurred, this, &RelaySession::unitFailed, Qt::QueuedConnection);
    connect(connectTimer, &QTimer::timeout, this, &RelaySession::giveUpConnecting);

    if (recorder)
        recorder->clientConnected(number, clientPeer);
    connectTimer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the message says how long it waited.
    connectTimer->setTimerType(Qt::PreciseTimer);
    connectTimer->start(connectTimeoutMs);
    unit->connectToHost(unitAddress, unitPort);
}

void RelaySession::unitConnected()
{
    connectTimer->stop();
    unitWasConnected = true;
    unit->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Through the relay the client cannot see the unit vanish: the relay's own
    // end answers it. So the relay has to notice, and close the client's end.
    enableDeadPeerDetection(unit);
    // The client's keys in flight go with the connection however the relay
    // ends, by Ctrl-C included.
    discardUnacknowledgedOnClose(unit);
    report(QStringLiteral("client %1 relayed to the unit at %2").arg(clientPeer, unitName));
    droppingLineRest = clientLines.unfinishedLength() > 0;
    if (droppingLineRest)
        report(QStringLiteral("the start of a line from client %1 dropped while connecting to the unit")
                   .arg(clientPeer));
    forward(Direction::ToUnit);
}

// The client's socket cannot tell a client that has gone from one that has
// only shut down its sending side: both are passed on to the unit, whose
// lines then go to the client, if it is still there, until the unit closes.
void RelaySession::clientClosed()
{
    if (finishing)
        return;
    if (!unitWasConnected || !clientTail->isOpen()) {
        finish(QStringLiteral("client %1 went away").arg(clientPeer));
        return;
    }
    clientHalfClosed = true;
    report(QStringLiteral("client %1 went away or shut down its sending side: passed on to the unit at %2")
               .arg(clientPeer, unitName));
    forward(Direction::ToUnit, std::numeric_limits<qint64>::max());
    passHalfCloseOnceWritten();
    forward(Direction::ToClient);
}

void RelaySession::passHalfCloseOnceWritten()
{
    if (!clientHalfClosed || halfClosePassed || unit->bytesToWrite() > 0)
        return;
    halfClosePassed = true;
    ConnectionTail::shutdownSending(unit->socketDescriptor());
}

void RelaySession::forwardToTail(qint64 maxUnsent)
{
    while (clientTail->isOpen() && unit->bytesAvailable() > 0 && clientTail->bytesToWrite() < maxUnsent) {
        const QByteArray bytes = unit->read(qMin(unit->bytesAvailable(), maxUnsent - clientTail->bytesToWrite()));
        clientTail->write(bytes);
        record(Direction::ToClient, bytes);
    }
}

void RelaySession::dropClientLines()
{
    record(Direction::ToUnit, client->readAll(), std::numeric_limits<int>::max());
}

void RelaySession::unitFailed()
{
    const QString problem = unit->errorString();
    if (unit->error() == QAbstractSocket::RemoteHostClosedError) {
        // Whatever the unit sent before it closed still goes to the client.
        forward(Direction::ToClient, std::numeric_limits<qint64>::max());
        finish(QStringLiteral("the unit at %1 closed the connection of client %2").arg(unitName, clientPeer));
    } else if (unitWasConnected) {
        finish(QStringLiteral("the connection to the unit at %1 failed: %2; closing client %3")
                   .arg(unitName, problem, clientPeer));
    } else {
        finish(QStringLiteral("the unit at %1 cannot be reached: %2; closing client %3")
                   .arg(unitName, problem, clientPeer));
    }
}

void RelaySession::unitTooLate(const QString &lines)
{
    finish(QStringLiteral("%1 from client %2 not acknowledged by the unit at %3 within %4 ms: connection "
                          "to the unit dropped so that it never arrives late; closing client %2")
               .arg(lines, clientPeer, unitName, QString::number(DebugCommunicator::KeyDeliveryLimitMs)));
}

void RelaySession::giveUpConnecting()
{
    finish(QStringLiteral("the unit at %1 cannot be reached: no answer in %2 ms; closing client %3")
               .arg(unitName)
               .arg(connectTimeoutMs)
               .arg(clientPeer));
}

void RelaySession::forward(Direction direction, qint64 maxUnsent)
{
    if (direction == Direction::ToClient && clientHalfClosed) {
        forwardToTail(maxUnsent);
        return;
    }
    QTcpSocket *from = direction == Direction::ToUnit ? client : unit;
    QTcpSocket *to = direction == Direction::ToUnit ? unit : client;
    bool &busy = forwarding[int(direction)];
    // Writing can emit bytesWritten at once, which would call this again
    // before the bytes in hand have been recorded.
    if (busy || to->state() != QAbstractSocket::ConnectedState)
        return;
    busy = true;
    while (from->bytesAvailable() > 0 && to->bytesToWrite() < maxUnsent) {
        const QByteArray bytes = from->read(qMin(from->bytesAvailable(), maxUnsent - to->bytesToWrite()));
        const bool lineRestDropped = direction == Direction::ToUnit && droppingLineRest;
        if (direction == Direction::ToUnit)
            writeToUnit(lineRestDropped ? restAfterDroppedLine(bytes) : bytes);
        else
            to->write(bytes);
        to->flush();
        record(direction, bytes, lineRestDropped ? 1 : 0);
    }
    busy = false;
}

// The deadline runs from here, just after the bytes came from the client,
// unless they had to wait for room behind what the unit had not taken: then
// bytes before them are overdue already.
void RelaySession::writeToUnit(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 written = unit->write(bytes);
    // Line ends as spaces, so that the note stays on one line of the recording.
    unitDeadline->watch(written, QString::fromUtf8(bytes).simplified());
}

QByteArray RelaySession::restAfterDroppedLine(const QByteArray &bytes)
{
    const int lineEnd = bytes.indexOf('\n');
    droppingLineRest = lineEnd < 0;
    return droppingLineRest ? QByteArray() : bytes.mid(lineEnd + 1);
}

void RelaySession::record(Direction direction, const QByteArray &bytes, int droppedLines)
{
    const bool fromUnit = direction == Direction::ToClient;
    // Without a recording the unit's lines go nowhere but to the client.
    if (fromUnit && !recorder)
        return;
    LineReader &lines = fromUnit ? unitLines : clientLines;
    for (const LineReader::Line &line : lines.append(bytes)) {
        const bool passedOn = droppedLines-- <= 0;
        if (line.isDropped()) {
            if (recorder) {
                recorder->event(number, QStringLiteral("a line of %1 bytes from the %2, not recorded")
                                            .arg(line.droppedLength)
                                            .arg(fromUnit ? QStringLiteral("unit") : QStringLiteral("client")));
            }
        } else if (fromUnit) {
            recorder->unitLine(number, line);
        } else {
            if (recorder)
                recorder->clientLine(number, line.text);
            if (passedOn)
                emit clientLineReceived(line.text);
            else
                reportDroppedLine(line.text);
        }
    }
}

void RelaySession::reportDroppedLine(const QByteArray &line)
{
    const QString reason = unitWasConnected ? QStringLiteral("begun before the unit at %1 was connected")
                                            : QStringLiteral("the unit at %1 is not connected yet");
    report(QStringLiteral("%1 from client %2 dropped: %3")
               .arg(QString::fromUtf8(line), clientPeer, reason.arg(unitName)));
}

void RelaySession::finish(const QString &reason)
{
    if (finishing)
        return;
    finishing = true;
    connectTimer->stop();
    report(reason);
    // A client that has shut down its sending side still gets what the unit
    // sent before it closed.
    if (!clientHalfClosed || clientTail->bytesToWrite() == 0)
        clientTail->close();
    client->disconnectFromHost();
    closeWithoutLateDelivery(unit);
    for (QTcpSocket *socket : { client, unit })
        connect(socket, &QTcpSocket::stateChanged, this, &RelaySession::deleteOnceClosed);
    QTimer::singleShot(closeTimeoutMs, this, [this] {
        clientTail->close();
        client->abort();
        unit->abort();
        deleteOnceClosed();
    });
    deleteOnceClosed();
}

void RelaySession::deleteOnceClosed()
{
    if (client->state() != QAbstractSocket::UnconnectedState
        || unit->state() != QAbstractSocket::UnconnectedState || clientTail->isOpen())
        return;
    disconnect(client, nullptr, this, nullptr);
    disconnect(unit, nullptr, this, nullptr);
    disconnect(clientTail, nullptr, this, nullptr);
    std::fprintf(stderr, "client %s disconnected\n", qPrintable(clientPeer));
    emit closed();
    deleteLater();
}

void RelaySession::report(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    if (recorder)
        recorder->event(number, text);
}
