#include "deliverydeadline.h"

#include "deadpeerdetection.h"

#include <QAbstractSocket>
#include <QTimer>

DeliveryDeadline::DeliveryDeadline(QAbstractSocket *socket, int limitMs, QObject *parent)
    : QObject(parent)
    , socket(socket)
    , limitMs(limitMs)
{
    connect(socket, &QAbstractSocket::connected, this, [this] {
        ++connectionNumber;
        bytesWritten = 0;
    });
}

void DeliveryDeadline::watch(qint64 bytes, const QString &what)
{
    bytesWritten += qMax<qint64>(bytes, 0);
    QTimer::singleShot(limitMs, Qt::PreciseTimer, this,
                       [this, connection = connectionNumber, end = bytesWritten, what] {
                           dropConnectionIfUnacknowledged(connection, end, what);
                       });
}

void DeliveryDeadline::dropConnectionIfUnacknowledged(quint64 connection, qint64 end, const QString &what)
{
    if (connection != connectionNumber || socket->state() != QAbstractSocket::ConnectedState)
        return;
    const qint64 inSystem = unacknowledgedBytes(socket);
    const qint64 pending = socket->bytesToWrite() + qMax<qint64>(inSystem, 0);
    if (bytesWritten - pending >= end)
        return;

    abortDiscardingUnsent(socket);
    emit dropped(what);
}
