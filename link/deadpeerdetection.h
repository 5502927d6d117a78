#ifndef DEADPEERDETECTION_H
#define DEADPEERDETECTION_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QAbstractSocket;
QT_END_NAMESPACE

// Everything of the link that talks to the operating system directly lives
// behind these functions: the toolkit offers keep-alive only with the
// system's timers (hours), and neither the count of bytes the peer has not
// yet acknowledged nor an abortive close.

// Makes a connected socket notice by itself that its peer has gone without
// a word (power lost, cable pulled): it then reports an error and becomes
// unconnected. A peer that is there but quiet is kept, through lost packets
// and outages of a few seconds. Nothing is added to the bytes the peer
// receives. On Linux and Windows this sets the timers on the socket's
// descriptor itself; other systems get the toolkit's keep-alive alone.
void enableDeadPeerDetection(QAbstractSocket *socket);

// Bytes handed to the system that the peer has not acknowledged yet, or -1
// where the system does not tell.
qint64 unacknowledgedBytes(const QAbstractSocket *socket);

// Connected, with every byte written to the socket acknowledged by the peer;
// false while the system does not tell.
bool everythingAcknowledged(const QAbstractSocket *socket);

// From now on, however the connection is closed (the process's own end, by a
// signal or a crash, included), whatever the peer has not acknowledged by then
// is thrown away and the connection reset, rather than delivered late.
void discardUnacknowledgedOnClose(QAbstractSocket *socket);

// Drops the connection at once, and with it whatever the system still holds
// for the peer, so that none of it can arrive later.
void abortDiscardingUnsent(QAbstractSocket *socket);

// Closes the connection normally when the peer has acknowledged everything
// written to it, and as abortDiscardingUnsent() does otherwise.
void closeWithoutLateDelivery(QAbstractSocket *socket);

#endif // DEADPEERDETECTION_H
