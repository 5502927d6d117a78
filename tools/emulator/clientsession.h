#ifndef CLIENTSESSION_H
#define CLIENTSESSION_H

#include <QObject>
#include <QString>

QT_BEGIN_NAMESPACE
class QTcpSocket;
QT_END_NAMESPACE

// One connected client: splits what it sends into lines and writes lines to it.
// Deletes itself once the client has gone.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    // A client only ever sends short key lines; anything longer without a line
    // end is not a client of ours, and it is dropped rather than buffered.
    static constexpr qint64 maxLineBytes = 4096;

    ClientSession(QTcpSocket *socket, QObject *parent = nullptr);

    QString peerName() const { return peer; }
    QTcpSocket *socket() const { return connection; }
    void send(const QByteArray &line);

signals:
    // The line without its line end.
    void lineReceived(const QByteArray &line);
    void closed();

private:
    void readLines();
    void finish();

    QTcpSocket *connection;
    const QString peer;
    bool finished = false;
};

#endif // CLIENTSESSION_H
