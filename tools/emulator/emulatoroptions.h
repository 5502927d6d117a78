#ifndef EMULATOROPTIONS_H
#define EMULATOROPTIONS_H

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The emulator's command line, checked.
class EmulatorOptions
{
public:
    enum class Mode { Demo, Script, Flood, Relay };
    enum class Outcome { Run, ShowHelp, Error };

    static constexpr quint16 defaultPort = 21953;

    // `arguments` includes the program name, as QCoreApplication::arguments().
    Outcome parse(const QStringList &arguments);

    QString helpText() const { return help; }
    QString errorText() const { return error; }

    Mode mode = Mode::Demo;
    QHostAddress address{ QHostAddress::LocalHost };
    quint16 port = defaultPort;
    QString scriptFile;
    int floodCount = 0;
    QHostAddress relayAddress;
    quint16 relayPort = defaultPort;
    QString recordFile;

private:
    // The relay's target is where it listens itself: the same address, or
    // any of the machine's own when it listens on all of them, an IPv4-mapped
    // IPv6 address on either side taken as the IPv4 address it maps.
    bool relaysToItself() const;
    static bool isOwnAddress(const QHostAddress &candidate);
    Outcome fail(const QString &message);

    QString help;
    QString error;
};

#endif // EMULATOROPTIONS_H
