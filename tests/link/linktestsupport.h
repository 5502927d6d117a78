#ifndef LINKTESTSUPPORT_H
#define LINKTESTSUPPORT_H

#include "debugcommunicator.h"

#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// The unit's fixed port and the link's timing and size limits, stated here
// on their own so that a wrong value in the link shows up.
const quint16 UnitPort = 21953;
const int CheckIntervalMs = 5000;
const qint64 LineLimit = 1024 * 1024;

// Everything the link tells the outside world, in the order it happened:
// both screen signals and every log line.
class LinkEvents : public QObject
{
public:
    explicit LinkEvents(DebugCommunicator *link)
    {
        current = this;
        previousHandler = qInstallMessageHandler(&LinkEvents::record);
        connect(link, &DebugCommunicator::autopilotScreenReceived, this,
                [this](const QString &screen, const QString &mask) {
                    events << QStringLiteral("autopilot %1|%2").arg(screen, mask);
                });
        connect(link, &DebugCommunicator::msgScreenReceived, this,
                [this](bool visible, const QString &screen, const QString &mask, bool isAlarm) {
                    events << QStringLiteral("msg %1 %2|%3 %4")
                                  .arg(int(visible)).arg(screen, mask).arg(int(isAlarm));
                });
    }
    ~LinkEvents() override
    {
        qInstallMessageHandler(previousHandler);
        current = nullptr;
    }

    bool waitFor(const QString &event, int timeoutMs = 15000) const
    {
        return QTest::qWaitFor([&] { return events.contains(event); }, timeoutMs);
    }

    QStringList events;

private:
    static void record(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        const char *level = type == QtDebugMsg ? "debug: " : type == QtWarningMsg ? "warning: " : "other: ";
        current->events << QLatin1String(level) + text;
    }

    static inline LinkEvents *current = nullptr;
    QtMessageHandler previousHandler = nullptr;
};

// A unit stand-in: a server on its own loopback address and a link connected
// to it.
class LinkFixture
{
public:
    explicit LinkFixture(const char *address) : address(QString::fromLatin1(address)) {}

    bool listen() { return server.listen(QHostAddress(address), UnitPort); }

    QTcpSocket *linkSocket() const { return link.findChild<QTcpSocket *>(); }

    // Waits for the link's next connection and makes it the current peer.
    bool accept(int timeoutMs = 15000)
    {
        if (!QTest::qWaitFor([&] { return server.hasPendingConnections(); }, timeoutMs))
            return false;
        peer = server.nextPendingConnection();
        return QTest::qWaitFor([&] {
            return linkSocket()->state() == QAbstractSocket::ConnectedState;
        }, timeoutMs);
    }

    bool startConnected() { return listen() && (link.start(address), accept()); }

    // Writes from the unit's side and waits until the bytes have left it.
    bool send(const QByteArray &bytes)
    {
        peer->write(bytes);
        return QTest::qWaitFor([&] { return peer->bytesToWrite() == 0; }, 15000);
    }

    // Everything the link has written, once at least `size` bytes are in (or
    // the wait gave up; the caller's comparison then shows what is missing).
    QByteArray receive(int size)
    {
        (void)QTest::qWaitFor([&] { return peer->bytesAvailable() >= size; }, 15000);
        return peer->readAll();
    }

    const QString address;
    QTcpServer server;
    DebugCommunicator link;
    QTcpSocket *peer = nullptr;
};

// A "UI" line that sets the autopilot screen to `text`, line feed included.
inline QByteArray autopilotLine(const QByteArray &text)
{
    return "UI:{\"autopilot\":{\"text\":\"" + text + "\"}}\n";
}

#endif // LINKTESTSUPPORT_H
