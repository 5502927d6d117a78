#include "loopbackunit.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

LoopbackUnit::LoopbackUnit(const QString &address, Job job)
    : address(address), job(std::move(job))
{
}

LoopbackUnit::~LoopbackUnit()
{
    wait();
}

bool LoopbackUnit::startListening()
{
    start();
    ready.acquire();
    return listening;
}

void LoopbackUnit::run()
{
    QTcpServer server;
    listening = server.listen(QHostAddress(address), 21953);
    if (!listening)
        std::fprintf(stderr, "cannot listen on %s: %s\n", qPrintable(address), qPrintable(server.errorString()));
    ready.release();
    if (!listening || !server.waitForNewConnection(30000))
        return;
    QTcpSocket *connection = server.nextPendingConnection();
    job(*connection);
    connection->disconnectFromHost();
    if (connection->state() != QAbstractSocket::UnconnectedState)
        connection->waitForDisconnected(2000);
}
