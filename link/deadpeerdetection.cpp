#include "deadpeerdetection.h"

#include <QAbstractSocket>
#include <QString>
#include <QVariant>

#if defined(Q_OS_LINUX)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#elif defined(Q_OS_WIN)
#include <winsock2.h>
#include <ws2tcpip.h>
#endif

#if defined(Q_OS_LINUX) || defined(Q_OS_WIN)
namespace {

// A unit that loses power or reboots never closes its end. Left to the
// system's timers the connection then looks alive for two hours (the first
// keep-alive probe) or, once a key line waits for its acknowledgement, for
// about a quarter of an hour of retransmissions, while the screens show what
// the dead unit last sent.
//
// The link's tick makes a new attempt up to 5 s after the socket has become
// unconnected, and a vanished unit should be replaced within 15 s. So: a
// probe after 2 s of silence, then one a second, and the connection dropped
// once the unit has given no sign for 4 s; a written line unacknowledged for
// 4 s drops it as well. A key typed just before the probes run out starts its
// own 4 s, so even then the socket is unconnected 8 s after the unit went,
// and the new connection follows within 13 s. A live unit's stack answers
// every probe however long the unit itself says nothing, so it is dropped
// only when two probes in a row are lost; the cost is an empty segment and
// its acknowledgement every 2 s of silence.
constexpr int KeepIdleSeconds = 2;
constexpr int KeepIntervalSeconds = 1;
constexpr int KeepCount = 2;
constexpr int UnacknowledgedLimitSeconds = KeepIdleSeconds + KeepCount * KeepIntervalSeconds;

#if defined(Q_OS_LINUX)
using Descriptor = int;
using OptionValue = int;
// In milliseconds. Linux also ends keep-alive probing by this limit rather
// than by the probe count.
constexpr int UnacknowledgedLimitOption = TCP_USER_TIMEOUT;
constexpr OptionValue UnacknowledgedLimit = UnacknowledgedLimitSeconds * 1000;

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
#else
using Descriptor = SOCKET;
using OptionValue = DWORD;
// In seconds; keep-alive is ended by the probe count, which gives the same 4 s.
constexpr int UnacknowledgedLimitOption = TCP_MAXRT;
constexpr OptionValue UnacknowledgedLimit = UnacknowledgedLimitSeconds;

QString lastError()
{
    return QStringLiteral("Windows Sockets error %1").arg(WSAGetLastError());
}
#endif

bool setTcpOption(qintptr descriptor, int option, OptionValue value)
{
    return setsockopt(Descriptor(descriptor), IPPROTO_TCP, option, reinterpret_cast<const char *>(&value),
                      int(sizeof value)) == 0;
}

} // namespace
#endif

void enableDeadPeerDetection(QAbstractSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#if defined(Q_OS_LINUX) || defined(Q_OS_WIN)
    const qintptr descriptor = socket->socketDescriptor();
    const bool set = setTcpOption(descriptor, TCP_KEEPIDLE, KeepIdleSeconds)
                     && setTcpOption(descriptor, TCP_KEEPINTVL, KeepIntervalSeconds)
                     && setTcpOption(descriptor, TCP_KEEPCNT, KeepCount)
                     && setTcpOption(descriptor, UnacknowledgedLimitOption, UnacknowledgedLimit);
    if (!set)
        qWarning("Dead-peer detection left with the system's timers: %s", qPrintable(lastError()));
#endif
}
