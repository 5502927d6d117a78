#include "endpoint.h"

namespace Endpoint {

bool parseAddress(const QString &text, QHostAddress *address)
{
    if (text == QLatin1String("localhost")) {
        *address = QHostAddress(QHostAddress::LocalHost);
        return true;
    }
    return address->setAddress(text);
}

bool parsePort(const QString &text, quint16 *port)
{
    bool isNumber = false;
    const uint value = text.toUInt(&isNumber);
    if (!isNumber || value < 1 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

bool parse(const QString &text, QHostAddress *address, quint16 *port)
{
    QString host = text;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        const QString rest = text.mid(close + 1);
        if (close < 0 || !(rest.isEmpty() || rest.startsWith(QLatin1Char(':'))))
            return false;
        host = text.mid(1, close - 1);
        portText = rest.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        host = text.section(QLatin1Char(':'), 0, 0);
        portText = text.section(QLatin1Char(':'), 1);
    }
    const bool portGiven = text.endsWith(QLatin1Char(':')) || !portText.isEmpty();
    return (!portGiven || parsePort(portText, port)) && parseAddress(host, address);
}

QString name(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace Endpoint
