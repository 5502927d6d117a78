#ifndef DEBUGCOMMUNICATOR_H
#define DEBUGCOMMUNICATOR_H

#include <QByteArray>
#include <QObject>
#include <QString>

QT_BEGIN_NAMESPACE
class QTcpSocket;
class QTimer;
QT_END_NAMESPACE

class DeliveryDeadline;

// The client's link to the control unit: keeps a TCP connection up by polling
// it on a timer (the socket itself notices a unit that vanished), decodes the
// unit's "UI" lines into screen updates and writes the operator's keys as
// "KBD" lines while connected, within 2 s or never: a key line the unit has
// not acknowledged in time takes the connection with it.
class DebugCommunicator : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 UnitPort = 21953;
    static constexpr int CheckIntervalMs = 5000;
    // Longest line body (line feed excluded) the link keeps; anything longer
    // is dropped so that a unit streaming without line feeds cannot exhaust
    // the client's memory.
    static constexpr qint64 MaxLineLength = 1024 * 1024;
    // A key line not acknowledged by the unit this long after it was written
    // drops the connection, so that it reaches the unit within 2 s of the
    // press or never. The 200 ms short of 2 s are for the check running late
    // and for a retransmission sent just before it still being on its way.
    static constexpr int KeyDeliveryLimitMs = 1800;

    DebugCommunicator(QObject *parent = nullptr);
    ~DebugCommunicator() override;

    void start(const QString &remoteIp, quint16 port = UnitPort);

    // Decodes the payload of one "UI" line and emits the screen signals.
    // Public so that fuzzers and benchmarks can drive the decoder without a
    // socket.
    void onUIMsg(QByteArray msg);

    // Every key line written on the current connection has reached the unit,
    // as far as the system tells; false while that is not known.
    bool keysAcknowledged() const;

signals:
    void autopilotScreenReceived(QString screen, QString mask);
    void msgScreenReceived(bool visible, QString screen, QString mask, bool isAlarm);
    // After the screen signals of one "UI" line, so that both screens of it
    // can be looked at together.
    void uiMessageHandled();
    void connected();
    // A connection that was made has ended.
    void disconnected();
    // An attempt to connect has failed; the next one is made by the timer.
    void connectionFailed(QString reason);
    // The connection was dropped because `key` was not acknowledged in time.
    void keyDropped(QString key);

public slots:
    void sendKbdPress(QString key);
    void checkConnection();
    void clientDataAvailableToRead();

private:
    // Longest stretch of line handling before other events get their turn.
    static constexpr int ReadPassMs = 5;
    // One byte more than the longest line, so that the byte after a maximal
    // line body can still be seen to be its line feed.
    static constexpr qint64 ReadBufferSize = MaxLineLength + 1;

    void resumeReadingSoon();
    void pauseIntake();
    void resumeIntake();
    void tuneConnection();
    void handleLine(const QByteArray &line);
    bool skipOverlongLine();
    void reportDroppedLine();

    QTcpSocket *socket = nullptr;
    QTimer *connectionTimer = nullptr;
    DeliveryDeadline *keyDeadline = nullptr;
    QString remoteIp;
    quint16 remotePort = UnitPort;
    // Bytes of an over-long line dropped so far; non-zero while the rest of
    // that line is being skipped.
    qint64 droppedLineLength = 0;
    // A pass over the lines left in the socket's buffer is queued.
    bool readingResumes = false;
};

#endif // DEBUGCOMMUNICATOR_H
