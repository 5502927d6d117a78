#ifndef DEADPEERDETECTION_H
#define DEADPEERDETECTION_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QAbstractSocket;
QT_END_NAMESPACE

// Makes a connected socket notice by itself that its peer has gone without
// a word (power lost, cable pulled): it then reports an error and becomes
// unconnected. A peer that is there but quiet is kept. Nothing is added to
// the bytes the peer receives.
//
// The toolkit offers keep-alive only with the system's timers (hours), so on
// Linux and Windows this sets the timers on the socket's descriptor itself;
// other systems get the toolkit's keep-alive alone.
void enableDeadPeerDetection(QAbstractSocket *socket);

#endif // DEADPEERDETECTION_H
