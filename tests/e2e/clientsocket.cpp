#include "clientsocket.h"

#include "emulatoroptions.h"

#include <QElapsedTimer>

namespace ClientSocket {

std::unique_ptr<QTcpSocket> connectTo(const char *address)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(address, EmulatorOptions::defaultPort);
    if (!socket->waitForConnected(waitMs))
        qWarning("cannot connect to %s: %s", address, qPrintable(socket->errorString()));
    return socket;
}

QByteArrayList readLines(QTcpSocket *socket, int count, int timeoutMs)
{
    QByteArrayList lines;
    QElapsedTimer clock;
    clock.start();
    while (lines.size() < count && clock.elapsed() < timeoutMs) {
        if (!socket->canReadLine() && !socket->waitForReadyRead(100))
            continue;
        while (lines.size() < count && socket->canReadLine())
            lines << socket->readLine();
    }
    return lines;
}

} // namespace ClientSocket
