#include "connectiontail.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#endif

ConnectionTail::ConnectionTail(qintptr descriptor, QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    tail = descriptor >= 0 ? ::dup(int(descriptor)) : -1;
    if (tail >= 0) {
        notifier = new QSocketNotifier(tail, QSocketNotifier::Write, this);
        notifier->setEnabled(false);
        connect(notifier, &QSocketNotifier::activated, this, &ConnectionTail::writePending);
    }
#else
    Q_UNUSED(descriptor);
#endif
}

ConnectionTail::~ConnectionTail()
{
    close();
}

void ConnectionTail::write(const QByteArray &bytes)
{
    pending += bytes;
    writePending();
}

void ConnectionTail::close()
{
    if (tail < 0)
        return;
    delete notifier;
    notifier = nullptr;
#ifdef Q_OS_UNIX
    ::close(tail);
#endif
    tail = -1;
    pending.clear();
}

void ConnectionTail::shutdownSending(qintptr descriptor)
{
#ifdef Q_OS_UNIX
    ::shutdown(int(descriptor), SHUT_WR);
#else
    Q_UNUSED(descriptor);
#endif
}

void ConnectionTail::writePending()
{
#ifdef Q_OS_UNIX
    qint64 written = 0;
    while (tail >= 0 && !pending.isEmpty()) {
        const ssize_t sent = ::send(tail, pending.constData(), size_t(pending.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (sent < 0) {
            const QString problem = QString::fromLocal8Bit(std::strerror(errno));
            close();
            emit failed(problem);
            return;
        }
        pending.remove(0, int(sent));
        written += sent;
    }
    if (notifier)
        notifier->setEnabled(!pending.isEmpty());
    if (written > 0)
        emit bytesWritten();
#endif
}
