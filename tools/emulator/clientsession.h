#ifndef CLIENTSESSION_H
#define CLIENTSESSION_H

#include "linereader.h"

#include <QObject>
#include <QString>
#include <QVector>

QT_BEGIN_NAMESPACE
class QTcpSocket;
QT_END_NAMESPACE

// One connected client: splits what it sends into lines and writes the
// unit's "UI:" lines to it. Deletes itself once the client has gone.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    // A client only ever sends short key lines; anything longer without a line
    // end is not a client of ours, and it is dropped rather than buffered.
    static constexpr qint64 maxLineBytes = 4096;
    // A client that leaves this much unread is not keeping up: it is written
    // nothing more until it has read some of it.
    static constexpr qint64 maxUnsentBytes = 64 * 1024;

    ClientSession(QTcpSocket *socket, QObject *parent = nullptr);

    QString peerName() const { return peer; }
    QTcpSocket *socket() const { return connection; }
    bool isKeepingUp() const;
    // While the client is not keeping up, lines are held rather than written,
    // and a held line is dropped once later ones set every screen it sets:
    // the client gets the current state, not the whole way there.
    void send(const QByteArray &uiLine);

signals:
    // The line without its line end.
    void lineReceived(const QByteArray &line);
    void closed();

private:
    struct HeldLine
    {
        QByteArray uiLine;
        int screens;
    };

    void readLines();
    void hold(const QByteArray &uiLine);
    void writeHeldLines();
    void finish();

    QTcpSocket *connection;
    const QString peer;
    LineReader reader;
    QVector<HeldLine> heldLines;
    bool finished = false;
};

#endif // CLIENTSESSION_H
