#include "debugcommunicator.h"

#include "deadpeerdetection.h"
#include "deliverydeadline.h"

#include <QAbstractSocket>
#include <QDebug>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QTcpSocket>
#include <QTimer>

DebugCommunicator::DebugCommunicator(QObject *parent)
    : QObject(parent)
{
}

// A key line the unit has not acknowledged yet goes with the connection
// rather than arrive after the client has gone.
DebugCommunicator::~DebugCommunicator()
{
    if (socket)
        closeWithoutLateDelivery(socket);
}

void DebugCommunicator::start(const QString &remoteIp, quint16 port)
{
    this->remoteIp = remoteIp;
    remotePort = port;

    socket = new QTcpSocket(this);
    socket->setReadBufferSize(ReadBufferSize);
    connect(socket, SIGNAL(readyRead()), this, SLOT(clientDataAvailableToRead()));
    // The options need the connection's descriptor, which exists only from
    // the attempt on and is new for every attempt.
    connect(socket, &QTcpSocket::connected, this, &DebugCommunicator::tuneConnection);
    keyDeadline = new DeliveryDeadline(socket, KeyDeliveryLimitMs, this);
    connect(keyDeadline, &DeliveryDeadline::dropped, this, [](const QString &key) {
        qDebug("Key \"%s\" not acknowledged by the unit within %d ms: connection dropped so that it never "
               "arrives late",
               qPrintable(key), KeyDeliveryLimitMs);
    });
    connect(keyDeadline, &DeliveryDeadline::dropped, this, &DebugCommunicator::keyDropped);
    connect(socket, &QTcpSocket::connected, this, &DebugCommunicator::connected);
    connect(socket, &QTcpSocket::disconnected, this, &DebugCommunicator::disconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, [this] {
        if (socket->state() != QAbstractSocket::ConnectedState)
            emit connectionFailed(socket->errorString());
    });

    checkConnection();

    connectionTimer = new QTimer(this);
    connect(connectionTimer, &QTimer::timeout, this, &DebugCommunicator::checkConnection);
    connectionTimer->start(CheckIntervalMs);
}

void DebugCommunicator::sendKbdPress(QString key)
{
    // A line handed to a socket that is not connected would wait in its
    // buffer and reach the unit whenever an attempt goes through, seconds
    // after the key was pressed: a start or stop arriving late, unannounced,
    // is worse than one lost.
    if (socket->state() != QAbstractSocket::ConnectedState) {
        qDebug("Key \"%s\" dropped: not connected to the unit", qPrintable(key));
        return;
    }
    const qint64 written = socket->write("KBD:" + key.toUtf8() + "\n");
    // Out now rather than when the event loop next turns to the socket, which
    // behind a flood of screens is a whole pass of lines later.
    socket->flush();
    // The same holds for a line stuck behind a path that has gone quiet for a
    // while: the system would deliver it whenever the path comes back.
    keyDeadline->watch(written, key);
}

bool DebugCommunicator::keysAcknowledged() const
{
    return everythingAcknowledged(socket);
}

void DebugCommunicator::checkConnection()
{
    // A connected socket is left alone, and a host name still being looked
    // up to its resolver's own retries, which a new lookup would start over.
    if (socket->state() == QAbstractSocket::ConnectedState || socket->state() == QAbstractSocket::HostLookupState)
        return;

    // An attempt left over from the last tick has met a unit that does not
    // answer, which the system tries again ever further apart, and the
    // toolkit takes no second attempt meanwhile: a new one tries the unit at
    // every tick.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();

    // A line cut off by the lost connection ends here; the new connection
    // starts with a fresh one.
    if (droppedLineLength > 0)
        reportDroppedLine();

    socket->connectToHost(remoteIp, remotePort, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void DebugCommunicator::tuneConnection()
{
    // Key lines are tiny interactive writes. With Nagle's algorithm the second
    // of two quick keys waits for the first one's acknowledgement, which a
    // unit with nothing to answer may hold back for tens of milliseconds.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    enableDeadPeerDetection(socket);
    // Set now, so that a client killed or crashing with a key in flight
    // resets the connection too.
    discardUnacknowledgedOnClose(socket);
}

void DebugCommunicator::clientDataAvailableToRead()
{
    if (droppedLineLength > 0 && !skipOverlongLine())
        return;

    // A unit may send screens faster than they can be shown. Lines are
    // therefore handled in passes of a few milliseconds, and whatever came
    // in meanwhile, the operator's keys above all, is handled between them.
    QElapsedTimer pass;
    pass.start();
    while (socket->canReadLine()) {
        if (pass.elapsed() >= ReadPassMs) {
            pauseIntake();
            resumeReadingSoon();
            return;
        }
        handleLine(socket->readLine());
    }
    resumeIntake();

    // What is left holds no line feed. The read buffer stops one byte past
    // the longest line, so a full buffer means the line is too long.
    if (socket->bytesAvailable() > MaxLineLength)
        skipOverlongLine();
}

// Lines left in the socket's buffer are not announced again, so the next pass
// is queued behind the events that wait now; one queued pass is enough.
void DebugCommunicator::resumeReadingSoon()
{
    if (readingResumes)
        return;
    readingResumes = true;
    QMetaObject::invokeMethod(this, [this] {
        readingResumes = false;
        clientDataAvailableToRead();
    }, Qt::QueuedConnection);
}

// While lines wait for a later pass the socket takes in nothing more, so that
// the event loop runs dry between passes. Qt 5's Windows event loop hands
// posted events (the passes, and the key presses on their way to the window)
// on only once the thread's message queue is empty, and Windows returns a key
// message only after every posted message. A socket that is listened to
// while the unit keeps sending always has its next notification posted, so
// under a flood neither the keys nor the queued passes would come. With the
// read buffer capped below what it holds Qt stops listening to the socket
// until the cap is lifted. The cap of one byte is never the buffer's full
// size: were it, lifting it would be ignored (Qt acts only on a new size).
void DebugCommunicator::pauseIntake()
{
    socket->setReadBufferSize(1);
}

// Qt listens again once the cap is lifted, also with the rest of a line left
// in the buffer (reading alone restarts it only once the buffer has been read
// empty). Costs nothing when the intake was not paused.
void DebugCommunicator::resumeIntake()
{
    socket->setReadBufferSize(ReadBufferSize);
}

void DebugCommunicator::handleLine(const QByteArray &line)
{
    const int colon = line.indexOf(':');
    if (colon < 0) {
        qWarning("Invalid message received: \"%s\"", line.constData());
        return;
    }

    // Compared with its length: a tag such as "UI\0" is not "UI". (Qt 6 has
    // no qstrcmp for QByteArray, and the C-string one stops at the nul.)
    const QByteArray tag = line.left(colon);
    if (tag == "UI")
        onUIMsg(line.mid(colon + 1));
}

// Drops buffered bytes of an over-long line up to and including its line
// feed, in small pieces so that the line is never held whole. Returns true
// once the line feed has been consumed.
bool DebugCommunicator::skipOverlongLine()
{
    char chunk[16 * 1024];
    while (socket->bytesAvailable() > 0) {
        const qint64 count = socket->readLine(chunk, sizeof chunk);
        if (count <= 0)
            break;
        droppedLineLength += count;
        if (chunk[count - 1] == '\n') {
            --droppedLineLength;
            reportDroppedLine();
            return true;
        }
    }
    return false;
}

void DebugCommunicator::reportDroppedLine()
{
    qWarning("Over-long line dropped: %lld bytes received without a line feed (limit %lld)",
             droppedLineLength, MaxLineLength);
    droppedLineLength = 0;
}

void DebugCommunicator::onUIMsg(QByteArray msg)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(msg, &error);
    if (doc.isNull()) {
        qDebug() << Q_FUNC_INFO << "ui msg parse error: " << error.errorString();
        return;
    }
    if (!doc.isObject()) {
        qDebug() << Q_FUNC_INFO << "ui msg has invalid json type";
        return;
    }

    const QJsonObject root = doc.object();

    const QJsonValue autopilot = root.value(QLatin1String("autopilot"));
    if (!autopilot.isUndefined()) {
        const QJsonObject screen = autopilot.toObject();
        const QString mask = screen.value(QLatin1String("mask")).toString();
        const QString text = screen.value(QLatin1String("text")).toString();
        emit autopilotScreenReceived(text, mask);
    }

    const QJsonValue msgScreen = root.value(QLatin1String("msg"));
    if (!msgScreen.isUndefined()) {
        const QJsonObject screen = msgScreen.toObject();
        const bool isAlarm = screen.value(QLatin1String("isAlarm")).toBool(false);
        const QString mask = screen.value(QLatin1String("mask")).toString();
        const QString text = screen.value(QLatin1String("text")).toString();
        const bool visible = screen.value(QLatin1String("visible")).toBool(false);
        emit msgScreenReceived(visible, text, mask, isAlarm);
    }
    emit uiMessageHandled();
}
