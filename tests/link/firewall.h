#ifndef FIREWALL_H
#define FIREWALL_H

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>

// The test's own table of nftables rules; it goes with the namespace, and is
// also deleted when the object goes. Rules that drop go both into the input
// and into the output hook, so that they hold on loopback and on a link to
// another namespace alike.
class Firewall
{
public:
    // The rules go into the network namespace of the given path (such as
    // /proc/PID/ns/net), or into the test's own when it is empty.
    explicit Firewall(const QString &networkNamespace = QString()) : networkNamespace(networkNamespace) {}
    ~Firewall() { clear(); }

    // Drops every packet of the connection, both ways, as a network does
    // whose far end has gone.
    bool blackhole(const QAbstractSocket &connection)
    {
        const QString rules = QStringLiteral("%1 drop\n%2 drop\n").arg(match(connection, false), match(connection, true));
        return apply(rules, rules);
    }

    // Drops everything that passes the interface, as a cut cable does.
    bool cut(const QString &interface)
    {
        return apply(QStringLiteral("iifname %1 drop\n").arg(interface),
                     QStringLiteral("oifname %1 drop\n").arg(interface));
    }

    // Drops the link's attempts to reach the unit, so that they hang.
    bool dropPacketsTo(const QString &address, quint16 port)
    {
        return apply(QStringLiteral("ip daddr %1 tcp dport %2 drop\n").arg(address).arg(port));
    }

    // Counts the packets that the connection carries from the link to the
    // unit over loopback.
    bool countOutgoing(const QAbstractSocket &connection)
    {
        return apply(match(connection, false) + QStringLiteral(" counter name outgoing\n"));
    }

    int outgoingPackets()
    {
        const QRegularExpressionMatch packets =
            QRegularExpression(QStringLiteral("packets (\\d+)")).match(QString::fromLatin1(
                nft({ QStringLiteral("list"), QStringLiteral("counter"), QStringLiteral("inet"), Table,
                      QStringLiteral("outgoing") })));
        return packets.hasMatch() ? packets.captured(1).toInt() : -1;
    }

    bool clear()
    {
        if (!active)
            return true;
        active = false;
        return !nft({ QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"), Table }).isNull();
    }

private:
    static inline const QString Table = QStringLiteral("velmotest");

    // The connection's packets in one direction.
    static QString match(const QAbstractSocket &connection, bool towardsLink)
    {
        const auto endpoint = [](const char *side, const QHostAddress &address, quint16 port) {
            return QStringLiteral("ip %1addr %2 tcp %1port %3").arg(QLatin1String(side), address.toString()).arg(port);
        };
        const QString link = endpoint(towardsLink ? "d" : "s", connection.localAddress(), connection.localPort());
        const QString unit = endpoint(towardsLink ? "s" : "d", connection.peerAddress(), connection.peerPort());
        return towardsLink ? unit + QLatin1Char(' ') + link : link + QLatin1Char(' ') + unit;
    }

    bool apply(const QString &inputRules, const QString &outputRules = QString())
    {
        active = true;
        const QString script = QStringLiteral("table inet %1 {\n"
                                              "    counter outgoing {}\n"
                                              "    chain input {\n"
                                              "        type filter hook input priority 0; policy accept;\n"
                                              "        %2"
                                              "    }\n"
                                              "    chain output {\n"
                                              "        type filter hook output priority 0; policy accept;\n"
                                              "        %3"
                                              "    }\n"
                                              "}\n")
                                   .arg(Table, inputRules, outputRules);
        return !nft({ QStringLiteral("-f"), QStringLiteral("-") }, script.toLatin1()).isNull();
    }

    // The command's output, or a null array when it failed.
    QByteArray nft(const QStringList &arguments, const QByteArray &input = QByteArray()) const
    {
        const QStringList paths = QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'))
                                  + QStringList{ QStringLiteral("/usr/sbin"), QStringLiteral("/sbin") };
        const QString nftProgram = QStandardPaths::findExecutable(QStringLiteral("nft"), paths);
        QProcess process;
        if (networkNamespace.isEmpty())
            process.start(nftProgram, arguments);
        else
            process.start(QStringLiteral("nsenter"), QStringList{ "--net=" + networkNamespace, nftProgram } + arguments);
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            qWarning("nft %s failed: %s %s", qPrintable(arguments.join(QLatin1Char(' '))),
                     process.readAllStandardError().constData(), qPrintable(process.errorString()));
            return QByteArray();
        }
        const QByteArray output = process.readAllStandardOutput();
        return output.isNull() ? QByteArray("") : output;
    }

    const QString networkNamespace;
    bool active = false;
};

// A new network namespace holds the loopback interface alone.
inline bool inPrivateNetwork()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    return std::all_of(interfaces.cbegin(), interfaces.cend(), [](const QNetworkInterface &interface) {
        return interface.flags().testFlag(QNetworkInterface::IsLoopBack);
    });
}

#endif // FIREWALL_H
