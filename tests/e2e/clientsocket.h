#ifndef CLIENTSOCKET_H
#define CLIENTSOCKET_H

#include <QByteArrayList>
#include <QTcpSocket>

#include <memory>

// A bare client of the emulator, for tests that look at the bytes themselves.
namespace ClientSocket {

constexpr int waitMs = 10000;

// Connected to `address` on the unit's port, or a warning and an unconnected
// socket.
std::unique_ptr<QTcpSocket> connectTo(const char *address);

// Whole lines, line ends included, until `count` have arrived or the wait is over.
QByteArrayList readLines(QTcpSocket *socket, int count, int timeoutMs = waitMs);

} // namespace ClientSocket

#endif // CLIENTSOCKET_H
