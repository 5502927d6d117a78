// Fuzzes the byte stream that the client's link receives, along the road it
// takes in the client: the driver plays the unit, listening on loopback, and
// writes the input in pieces to a real DebugCommunicator over a real TCP
// connection, with a VelmoScreenForm wired to it as start-up wires them. So the
// socket's bounded buffering, the line reader with its over-long line handling,
// the UI decoder and the form's slots all run exactly as they do for a unit.
//
// The input is a list of operations, each an opcode byte (taken modulo 6)
// followed by its operands:
//   0, 1  piece: a length byte n, then n bytes, written in one go
//   2     run of one byte value: a mode byte, 2 length bytes (little-endian)
//         and the value (a line feed is taken as '.'), written as one piece.
//         With bit 0 of the mode set the length counts from 32 KiB below the
//         link's line limit, so that runs land on either side of it; at most
//         two such runs per input, to keep the rate of inputs up.
//   3     blink tick of the form
//   4     unit restart: the unit drops the connection, the link reconnects
//   5     key press on the form: 4 bytes key code, 1 byte modifiers
// After the last operation the driver ends any open line and sends a check
// line. The input fails if the form does not then show the check screen, if a
// step stalls, if a key line is lost or malformed, or on any sanitizer report.

#include "debugcommunicator.h"
#include "velmoscreenform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

// Generous: an input can make the link log a million bad lines under ASan.
constexpr int stallLimitMs = 20000;
constexpr int nearLimitRunsPerInput = 2;

class InputReader
{
public:
    InputReader(const uint8_t *data, size_t size) : data(data), size(size) {}
    bool atEnd() const { return pos >= size; }
    uint8_t byte() { return atEnd() ? 0 : data[pos++]; }
    quint32 number(int bytes)
    {
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= quint32(byte()) << (8 * i);
        return value;
    }
    QByteArray bytes(size_t count)
    {
        count = std::min(count, size - pos);
        const QByteArray result(reinterpret_cast<const char *>(data + pos), int(count));
        pos += count;
        return result;
    }

private:
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "link fuzz: %s\n", what);
    std::abort();
}

// The link logs every bad line; at fuzzing rates that output is only noise.
void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

class Harness
{
public:
    Harness()
    {
        if (!server.listen(QHostAddress(QStringLiteral(VELMO_FUZZ_UNIT_ADDRESS)), DebugCommunicator::UnitPort))
            fail("cannot listen as the unit on " VELMO_FUZZ_UNIT_ADDRESS);
        QObject::connect(&link, &DebugCommunicator::autopilotScreenReceived,
                         &form, &VelmoScreenForm::setAutopilotScreen);
        QObject::connect(&link, &DebugCommunicator::msgScreenReceived,
                         &form, &VelmoScreenForm::setMsgScreen);
        QObject::connect(&form, &VelmoScreenForm::keyboardKeyPress,
                         &link, &DebugCommunicator::sendKbdPress);
        QObject::connect(&form, &VelmoScreenForm::keyboardKeyPress, [this] { ++keysPressed; });
        autopilotScr = form.findChild<QLabel *>(QStringLiteral("autopilotScr"));
        link.start(QStringLiteral(VELMO_FUZZ_UNIT_ADDRESS));
        linkSocket = link.findChild<QTcpSocket *>();
        if (!autopilotScr || !linkSocket)
            fail("form or link is not built as expected");
        QObject::connect(linkSocket, &QTcpSocket::disconnected, [this] { ++linkClosed; });
        acceptLink();
    }

    void run(const uint8_t *data, size_t size)
    {
        InputReader input(data, size);
        nearLimitRuns = 0;
        while (!input.atEnd()) {
            switch (input.byte() % 6) {
            case 0:
            case 1:
                write(input.bytes(input.byte()));
                break;
            case 2:
                writeRun(input);
                break;
            case 3:
                QMetaObject::invokeMethod(&form, "blinkTimerTimeout");
                break;
            case 4:
                restartUnit();
                break;
            case 5: {
                const int code = int(input.number(4));
                pressKey(code, input.byte());
                break;
            }
            }
        }
        checkLinkStillWorks();
    }

private:
    void waitUntil(const std::function<bool()> &done, const char *what)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > stallLimitMs) {
                std::fprintf(stderr, "link socket: state %d, %lld bytes buffered, line complete: %d\n",
                             int(linkSocket->state()), linkSocket->bytesAvailable(),
                             int(linkSocket->canReadLine()));
                fail(what);
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    void acceptLink()
    {
        waitUntil([this] { return server.hasPendingConnections(); }, "the link does not connect");
        QTcpSocket *connection = server.nextPendingConnection();
        QObject::connect(connection, &QTcpSocket::readyRead, [this, connection] { keyLines += connection->readAll(); });
        unit = connection;
        waitUntil([this] { return linkSocket->state() == QAbstractSocket::ConnectedState; },
                  "the link does not see its connection");
    }

    void write(const QByteArray &bytes)
    {
        unit->write(bytes);
        waitUntil([this] { return unit->bytesToWrite() == 0; }, "the link stopped reading");
        // Give the link its read notification for this piece before the next one.
        QCoreApplication::processEvents();
    }

    void writeRun(InputReader &input)
    {
        const bool nearLimit = input.byte() & 1;
        int length = int(input.number(2));
        if (nearLimit && nearLimitRuns++ < nearLimitRunsPerInput)
            length += int(DebugCommunicator::MaxLineLength) - 32 * 1024;
        // A run of line feeds is a million empty lines, each of them logged:
        // valid, but it would slow the search down a hundredfold.
        const char value = char(input.byte());
        write(QByteArray(length, value == '\n' ? '.' : value));
    }

    void pressKey(int code, uint8_t modifiers)
    {
        QKeyEvent press(QEvent::KeyPress, code, Qt::KeyboardModifiers((modifiers & 0x3f) << 25));
        QCoreApplication::sendEvent(&form, &press);
    }

    // Every key the form reported while connected reaches the unit as one
    // well-formed key line.
    void checkKeyLines()
    {
        waitUntil([this] { return keyLines.count('\n') >= keysPressed; }, "a key line was lost");
        const QList<QByteArray> lines = keyLines.split('\n');
        if (lines.size() - 1 != keysPressed)
            fail("more key lines than key presses");
        for (int i = 0; i < keysPressed; ++i) {
            if (!lines.at(i).startsWith("KBD:") || lines.at(i).size() < 5)
                fail("malformed key line");
        }
        keyLines.clear();
        keysPressed = 0;
    }

    void restartUnit()
    {
        checkKeyLines();
        const int closedBefore = linkClosed;
        // Deleted at once: without a running event loop a deferred delete
        // would never happen, and the dropped connections would pile up.
        delete unit;
        waitUntil([&] { return linkClosed > closedBefore; }, "the link does not notice the lost connection");
        // What the reconnection timer does on its next tick, unless that tick
        // has come already.
        if (linkSocket->state() == QAbstractSocket::UnconnectedState)
            link.checkConnection();
        acceptLink();
    }

    void checkLinkStillWorks()
    {
        const QString text = QStringLiteral("check %1").arg(++checks);
        write("\nUI:{\"autopilot\":{\"text\":\"" + text.toLatin1() + "\",\"mask\":\"\"}}\n");
        waitUntil([&] { return autopilotScr->text() == text; },
                  "the form does not show the screen sent after the input");
        checkKeyLines();
    }

    QTcpServer server;
    DebugCommunicator link;
    VelmoScreenForm form;
    QLabel *autopilotScr = nullptr;
    QTcpSocket *linkSocket = nullptr;
    QTcpSocket *unit = nullptr;
    QByteArray keyLines;
    int keysPressed = 0;
    int nearLimitRuns = 0;
    int linkClosed = 0;
    quint64 checks = 0;
};

Harness *harness = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz-link";
    static char *argv[] = { name, nullptr };
    new QApplication(argc, argv);
    qInstallMessageHandler(discardMessage);
    harness = new Harness;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    harness->run(data, size);
    return 0;
}
