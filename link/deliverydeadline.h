#ifndef DELIVERYDEADLINE_H
#define DELIVERYDEADLINE_H

#include <QObject>
#include <QString>

QT_BEGIN_NAMESPACE
class QAbstractSocket;
QT_END_NAMESPACE

// Bytes written to a socket reach its peer within a limit or never. The
// system would deliver bytes stuck behind a path that has gone quiet for a
// while whenever the path comes back, however late. So bytes the peer has not
// acknowledged once their limit is over drop the connection, and with it
// whatever of it the system still holds. Each connection of the socket is
// counted on its own: a check looks only at the connection its bytes were
// written to.
class DeliveryDeadline : public QObject
{
    Q_OBJECT

public:
    DeliveryDeadline(QAbstractSocket *socket, int limitMs, QObject *parent = nullptr);

    // `bytes` (as the socket's write returned them) have just been written;
    // `what` names them in dropped().
    void watch(qint64 bytes, const QString &what);

signals:
    // The connection has been dropped because `what` was not acknowledged in time.
    void dropped(const QString &what);

private:
    void dropConnectionIfUnacknowledged(quint64 connection, qint64 end, const QString &what);

    QAbstractSocket *const socket;
    const int limitMs;
    // Connections made so far, and the bytes watched on the current one.
    quint64 connectionNumber = 0;
    qint64 bytesWritten = 0;
};

#endif // DELIVERYDEADLINE_H
