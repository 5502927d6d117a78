#include "deadpeerdetection.h"

#include <QAbstractSocket>
#include <QString>
#include <QVariant>

#if defined(Q_OS_LINUX)
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#elif defined(Q_OS_WIN)
// TCP_INFO_v0 is declared for Windows 10 version 1703 and later; on older
// systems the call that fills it in fails, and the link does without.
#if !defined(NTDDI_VERSION) || NTDDI_VERSION < 0x0A000003
#undef NTDDI_VERSION
#define NTDDI_VERSION 0x0A000003
#endif
#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

// Options of Windows 10 version 1703 that MinGW-w64's headers lack, with the
// values of Microsoft's ws2ipdef.h.
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif
#endif

#if defined(Q_OS_LINUX) || defined(Q_OS_WIN)
namespace {

// A unit that loses power or reboots never closes its end. Left to the
// system's timers the connection then looks alive for two hours (the first
// keep-alive probe) or, once a key line waits for its acknowledgement, for
// about a quarter of an hour of retransmissions, while the screens show what
// the dead unit last sent. But the network between may also lose a packet
// now and then, or all of them for a few seconds (a busy switch, a cable
// touched, a ship's Wi-Fi), and dropping a unit that is still there freezes
// its screens for a tick and a new connection.
//
// So: a probe after 2 s of silence, then one a second, and the connection
// dropped once the unit has given no sign for 2 s + 6 x 1 s = 8 s. A vanished
// unit is thus noticed within 8 s (the system's timers add a few hundred
// milliseconds), and the link's tick, every 5 s, connects anew within 13 s.
// A quiet unit is dropped only when six probes in a row, or their answers,
// are lost: at 10 % loss each way a probe's round trip fails with
// 1 - 0.9 x 0.9 = 0.19, six in a row with 0.19^6, about 1 in 21 000, so at
// one round of probes every 2 s or more a false drop comes once in some
// 12 hours. The six probes, due at 2 to 7 s and each sent a little later
// rather than sooner, span more than 5 s: an outage of 5 s leaves one of them
// at least. A live unit's screens count as signs too, and it retransmits them
// after an outage, so it is held at least as long.
//
// A written line unacknowledged for 8 s drops the connection as well (the
// system restarts that 8 s at the first unacknowledged write). The link drops
// it itself long before, when a key line is not acknowledged within its own
// limit (see DebugCommunicator::sendKbdPress), so a key typed just before the
// probes run out brings the drop forward rather than putting it off.
constexpr int KeepIdleSeconds = 2;
constexpr int KeepIntervalSeconds = 1;
constexpr int KeepCount = 6;
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
// In seconds; keep-alive is ended by the probe count, which gives the same 8 s.
constexpr int UnacknowledgedLimitOption = TCP_MAXRT;
constexpr OptionValue UnacknowledgedLimit = UnacknowledgedLimitSeconds;
// Where the probe count cannot be set (Windows before 10 version 1703, Wine)
// it is 10, so the probes come closer together there: 2 s + 10 x 0.8 s, and
// a vanished unit is noticed within 10 s.
constexpr u_long FixedCountIntervalMs = 800;

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

// A key line lost on the way is sent again after the shortest retransmission
// timeout (200 ms on Linux), then after twice that, and so on: four tries in
// the link's 1.8 s, all lost together at 10 % loss each way about once in
// 800 keys. A stream as thin as the key lines keeps the shortest timeout for
// its first six tries instead (once its first loss has ended the system's
// initial slow start), eight or more tries in 1.8 s, and the link drops a
// connection for a key on a path that is merely lossy seldom (measured once
// in 1133 keys at 10 % loss). Linux only; Windows keeps its own timers.
bool retransmitThinStreamsLinearly(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    return setTcpOption(descriptor, TCP_THIN_LINEAR_TIMEOUTS, 1);
#else
    Q_UNUSED(descriptor);
    return true;
#endif
}

#if defined(Q_OS_LINUX)
bool setKeepAliveTimers(qintptr descriptor)
{
    return setTcpOption(descriptor, TCP_KEEPIDLE, KeepIdleSeconds)
           && setTcpOption(descriptor, TCP_KEEPINTVL, KeepIntervalSeconds)
           && setTcpOption(descriptor, TCP_KEEPCNT, KeepCount)
           && setTcpOption(descriptor, UnacknowledgedLimitOption, UnacknowledgedLimit);
}
#else
bool setKeepAliveValues(qintptr descriptor, u_long intervalMs)
{
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = KeepIdleSeconds * 1000;
    values.keepaliveinterval = intervalMs;
    DWORD returned = 0;
    return WSAIoctl(Descriptor(descriptor), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                    nullptr, nullptr)
           == 0;
}

// Idle time and interval through the control code that every Windows since
// 2000 (and Wine) takes; the probe count and the limit for unacknowledged
// data through the newer options where the system takes them. The control
// code is documented to fix the count at 10, so the count is set after it,
// and where the count is refused the interval is shortened instead.
bool setKeepAliveTimers(qintptr descriptor)
{
    if (!setKeepAliveValues(descriptor, KeepIntervalSeconds * 1000))
        return false;
    setTcpOption(descriptor, UnacknowledgedLimitOption, UnacknowledgedLimit);
    return setTcpOption(descriptor, TCP_KEEPCNT, KeepCount)
           || setKeepAliveValues(descriptor, FixedCountIntervalMs);
}
#endif

} // namespace
#endif

namespace {

// Lingering for no time makes closing reset the connection and throw the
// queued bytes away instead of trying on to deliver them; not lingering is
// the normal close. The same option and meaning on Windows; other systems
// always deliver.
bool lingerOnClose(QAbstractSocket *socket, bool deliverQueued)
{
#if defined(Q_OS_LINUX) || defined(Q_OS_WIN)
    linger value{};
    value.l_onoff = deliverQueued ? 0 : 1;
    value.l_linger = 0;
    return setsockopt(Descriptor(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                      reinterpret_cast<const char *>(&value), int(sizeof value))
           == 0;
#else
    Q_UNUSED(socket);
    return deliverQueued;
#endif
}

} // namespace

void enableDeadPeerDetection(QAbstractSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#if defined(Q_OS_LINUX) || defined(Q_OS_WIN)
    const qintptr descriptor = socket->socketDescriptor();
    if (!setKeepAliveTimers(descriptor) || !retransmitThinStreamsLinearly(descriptor))
        qWarning("Dead-peer detection left with the system's timers: %s", qPrintable(lastError()));
#endif
}

qint64 unacknowledgedBytes(const QAbstractSocket *socket)
{
#if defined(Q_OS_LINUX)
    // Bytes in the send queue, sent or not, that the peer has not acknowledged.
    int queued = 0;
    if (ioctl(int(socket->socketDescriptor()), SIOCOUTQ, &queued) != 0)
        return -1;
    return queued;
#elif defined(Q_OS_WIN)
    // Windows 10 version 1703 and later tell the bytes sent and not yet
    // acknowledged; elsewhere (older Windows, Wine) only the toolkit's own
    // buffer counts, which is worth saying once.
    DWORD version = 0;
    TCP_INFO_v0 info{};
    DWORD returned = 0;
    if (WSAIoctl(Descriptor(socket->socketDescriptor()), SIO_TCP_INFO, &version, sizeof version, &info,
                 sizeof info, &returned, nullptr, nullptr)
        != 0) {
        static bool told = false;
        if (!told)
            qDebug("Unacknowledged bytes not known to this system (%s): only keys still waiting in the "
                   "client drop the connection",
                   qPrintable(lastError()));
        told = true;
        return -1;
    }
    return info.BytesInFlight;
#else
    Q_UNUSED(socket);
    return -1;
#endif
}

void discardUnacknowledgedOnClose(QAbstractSocket *socket)
{
#if defined(Q_OS_LINUX) || defined(Q_OS_WIN)
    if (!lingerOnClose(socket, false))
        qWarning("Closing the connection may still deliver its queued bytes: %s", qPrintable(lastError()));
#else
    Q_UNUSED(socket);
#endif
}

void abortDiscardingUnsent(QAbstractSocket *socket)
{
    discardUnacknowledgedOnClose(socket);
    socket->abort();
}

bool everythingAcknowledged(const QAbstractSocket *socket)
{
    return socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() == 0
        && unacknowledgedBytes(socket) == 0;
}

// A reset may count as a fault at the peer, so it is kept for the closes
// that it keeps bytes from arriving late.
void closeWithoutLateDelivery(QAbstractSocket *socket)
{
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        return;
    }
    if (everythingAcknowledged(socket) && lingerOnClose(socket, true))
        socket->disconnectFromHost();
    else
        abortDiscardingUnsent(socket);
}
