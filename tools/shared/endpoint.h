#ifndef ENDPOINT_H
#define ENDPOINT_H

#include <QHostAddress>
#include <QString>

// A unit's address on the command line: ADDRESS, ADDRESS:PORT, or
// [ADDRESS]:PORT for IPv6, whose address has colons of its own. The address
// is an IP address or "localhost"; no other name is looked up.
namespace Endpoint {

bool parseAddress(const QString &text, QHostAddress *address);
bool parsePort(const QString &text, quint16 *port);
// *port keeps its value when the text gives none.
bool parse(const QString &text, QHostAddress *address, quint16 *port);
// "a.b.c.d:port" or "[v6]:port".
QString name(const QHostAddress &address, quint16 port);

} // namespace Endpoint

#endif // ENDPOINT_H
