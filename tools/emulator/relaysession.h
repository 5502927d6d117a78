#ifndef RELAYSESSION_H
#define RELAYSESSION_H

#include "linereader.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

QT_BEGIN_NAMESPACE
class QTcpSocket;
class QTimer;
QT_END_NAMESPACE

class ConnectionTail;
class DeliveryDeadline;
class SessionRecorder;

// One client relayed to the unit over a connection of its own: bytes pass
// unchanged both ways as they arrive. When either end goes, or the unit cannot
// be reached, both connections are closed, so that the client's own
// reconnection takes over. Lines the client sends while the connection to the
// unit is still being made are dropped, as the client itself drops keys typed
// while it is not connected: a start or stop that arrives seconds late is
// worse than one that is lost. For the same reason a line that the unit has
// not acknowledged within the client's own limit drops the connection to the
// unit, and whatever of it is still unsent, and closes the client's. A client
// that shuts down only its sending side has that passed on to the unit, and
// gets the unit's lines until the unit closes. Deletes itself once both are
// closed.
class RelaySession : public QObject
{
    Q_OBJECT

public:
    // A unit behind a network that drops what is sent to it never answers;
    // the client tries again every 5 s, so it should not wait longer than that.
    static constexpr int connectTimeoutMs = 4000;
    // What may wait to be written to one end before the other end is read no
    // more: an end that does not read slows the other down instead of filling
    // the relay's memory.
    static constexpr qint64 maxUnsentBytes = 64 * 1024;
    // How long closing may wait for the last bytes to be taken.
    static constexpr int closeTimeoutMs = 5000;

    // `recorder` may be null; `number` counts the relay's clients from 1.
    RelaySession(QTcpSocket *client, int number, const QHostAddress &unitAddress, quint16 unitPort,
                 SessionRecorder *recorder, QObject *parent = nullptr);

    QString clientName() const { return clientPeer; }

signals:
    // A line of the client's passed on to the unit, without its line end.
    void clientLineReceived(const QByteArray &line);
    void closed();

private:
    enum class Direction { ToUnit, ToClient };

    void unitConnected();
    void clientClosed();
    void passHalfCloseOnceWritten();
    void forwardToTail(qint64 maxUnsent);
    void unitFailed();
    void unitTooLate(const QString &lines);
    void giveUpConnecting();
    void forward(Direction direction, qint64 maxUnsent = maxUnsentBytes);
    void dropClientLines();
    void writeToUnit(const QByteArray &bytes);
    QByteArray restAfterDroppedLine(const QByteArray &bytes);
    // The first `droppedLines` of the client's lines that `bytes` complete
    // were dropped, not passed on.
    void record(Direction direction, const QByteArray &bytes, int droppedLines = 0);
    void reportDroppedLine(const QByteArray &line);
    void finish(const QString &reason);
    void deleteOnceClosed();
    void report(const QString &text);

    QTcpSocket *const client;
    QTcpSocket *const unit;
    DeliveryDeadline *const unitDeadline;
    // The client's connection after its socket has seen the client's end.
    ConnectionTail *const clientTail;
    QTimer *const connectTimer;
    const int number;
    const QString clientPeer;
    const QString unitName;
    SessionRecorder *const recorder;
    LineReader clientLines;
    LineReader unitLines;
    bool forwarding[2] = { false, false };
    bool unitWasConnected = false;
    // Set when the connection to the unit was made in the middle of a line
    // whose start was dropped: the rest of that line goes too.
    bool droppingLineRest = false;
    bool finishing = false;
    bool clientHalfClosed = false;
    bool halfClosePassed = false;
};

#endif // RELAYSESSION_H
