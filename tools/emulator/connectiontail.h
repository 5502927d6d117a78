#ifndef CONNECTIONTAIL_H
#define CONNECTIONTAIL_H

#include <QByteArray>
#include <QObject>

QT_BEGIN_NAMESPACE
class QSocketNotifier;
QT_END_NAMESPACE

// The sending side of a connection, kept open past the toolkit's socket. A Qt
// socket closes the whole connection as soon as its peer shuts down its own
// sending side, but a client that has done so still waits for the unit's
// answer. So the relay keeps a second descriptor of each client's connection
// and writes what is left through it. Where descriptors cannot be duplicated
// (systems other than Unix) a tail is never open, and the relay closes the
// client at once as before.
class ConnectionTail : public QObject
{
    Q_OBJECT

public:
    // Takes a descriptor of its own for the connection of `descriptor`.
    explicit ConnectionTail(qintptr descriptor, QObject *parent = nullptr);
    ~ConnectionTail() override;

    bool isOpen() const { return tail >= 0; }
    qint64 bytesToWrite() const { return pending.size(); }
    void write(const QByteArray &bytes);
    // The connection ends once every descriptor of it is closed.
    void close();

    // The peer of `descriptor` reads the end of the stream; what it sends
    // still arrives.
    static void shutdownSending(qintptr descriptor);

signals:
    void bytesWritten();
    void failed(const QString &problem);

private:
    void writePending();

    int tail = -1;
    QByteArray pending;
    QSocketNotifier *notifier = nullptr;
};

#endif // CONNECTIONTAIL_H
