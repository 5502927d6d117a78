#include "desktopsession.h"

#include <QtTest>

namespace {

// The message screen sits in the lower part of the window, below the
// autopilot screen.
QRect messageArea(const QImage &image)
{
    return QRect(0, image.height() * 7 / 10, image.width(), image.height());
}

} // namespace

// Real key presses in the client's window reach the demo unit as key names,
// and what the unit does with them comes back on screen.
class TestE2eKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keysReachTheUnit_data();
    void keysReachTheUnit();
    void russianLayoutLetters();
    void alarmIsRedUntilAcknowledged();

private:
    enum MessageState { Hidden, Shown, Alarm };
    void expectLines(const QStringList &keys, const QByteArrayList &lines);
    bool messageScreenBecomes(MessageState state);

    DesktopSession session{ 142, "127.0.0.42" };
};

void TestE2eKeys::initTestCase()
{
    QVERIFY2(session.startDisplay(), qPrintable(session.lastError));
    QVERIFY2(session.startEmulator({}), qPrintable(session.lastError));
    QVERIFY2(session.startClient(), qPrintable(session.lastError));
    QTRY_COMPARE_WITH_TIMEOUT(session.emulator.connectionCount(), 1, DesktopSession::waitMs);
}

void TestE2eKeys::keysReachTheUnit_data()
{
    QTest::addColumn<QStringList>("keys"); // xdotool key names
    QTest::addColumn<QByteArrayList>("lines");

    QTest::newRow("S") << QStringList{ "s" } << QByteArrayList{ "KBD:8x20" };
    QTest::newRow("D") << QStringList{ "d" } << QByteArrayList{ "KBD:#" };
    QTest::newRow("F") << QStringList{ "f" } << QByteArrayList{ "KBD:*" };
    QTest::newRow("Shift+S") << QStringList{ "shift+s" } << QByteArrayList{ "KBD:8x20" };
    QTest::newRow("digits") << QStringList{ "0", "1", "5", "9" }
                            << QByteArrayList{ "KBD:0", "KBD:1", "KBD:5", "KBD:9" };
    QTest::newRow("arrows") << QStringList{ "Up", "Down", "Left", "Right" }
                            << QByteArrayList{ "KBD:UP", "KBD:DOWN", "KBD:LEFT", "KBD:RIGHT" };
    QTest::newRow("Space") << QStringList{ "space" } << QByteArrayList{ "KBD:PUSK" };
    QTest::newRow("Return") << QStringList{ "Return" } << QByteArrayList{ "KBD:M" };
    QTest::newRow("Escape") << QStringList{ "Escape" } << QByteArrayList{ "KBD:F" };
    QTest::newRow("keypad Enter") << QStringList{ "KP_Enter" } << QByteArrayList{ "KBD:M" };
    QTest::newRow("Delete") << QStringList{ "Delete" } << QByteArrayList{ "KBD:#" };
    QTest::newRow("period") << QStringList{ "period" } << QByteArrayList{ "KBD:#" };
    QTest::newRow("plus") << QStringList{ "plus" } << QByteArrayList{ "KBD:F" };
    QTest::newRow("keypad plus") << QStringList{ "KP_Add" } << QByteArrayList{ "KBD:F" };
    QTest::newRow("asterisk") << QStringList{ "asterisk" } << QByteArrayList{ "KBD:*" };
    // The keypad flag and the modifiers are ignored: only the key code counts.
    QTest::newRow("keypad digits") << QStringList{ "KP_7", "KP_0" } << QByteArrayList{ "KBD:7", "KBD:0" };
    QTest::newRow("keypad asterisk") << QStringList{ "KP_Multiply" } << QByteArrayList{ "KBD:*" };
    QTest::newRow("keypad arrows and Delete")
        << QStringList{ "KP_Left", "KP_Up", "KP_Delete" } << QByteArrayList{ "KBD:LEFT", "KBD:UP", "KBD:#" };
    QTest::newRow("keypad Home, Insert, Page Down send nothing")
        << QStringList{ "KP_Home", "KP_Insert", "KP_Next", "KP_5" } << QByteArrayList{ "KBD:5" };
    QTest::newRow("Ctrl+S, Ctrl+F, Alt+D") << QStringList{ "ctrl+s", "ctrl+f", "alt+d" }
                                           << QByteArrayList{ "KBD:8x20", "KBD:*", "KBD:#" };
    QTest::newRow("unmapped keys send nothing")
        << QStringList{ "a", "BackSpace", "F1", "minus", "numbersign", "7" } << QByteArrayList{ "KBD:7" };
}

void TestE2eKeys::keysReachTheUnit()
{
    QFETCH(QStringList, keys);
    QFETCH(QByteArrayList, lines);

    expectLines(keys, lines);
}

void TestE2eKeys::russianLayoutLetters()
{
    // The layout is switched on the server, as an operator would, so the
    // letters come from the physical D, A, F and S keys (xdotool finds them
    // there). It is switched back for the test that types Latin letters.
    QVERIFY(!session.runTool("setxkbmap", { "-layout", "ru" }).isNull());
    const auto restoreLayout =
        qScopeGuard([this] { session.runTool("setxkbmap", { "-layout", "us" }); });
    expectLines({ "Cyrillic_ve", "Cyrillic_ef", "Cyrillic_a", "Cyrillic_yeru", "shift+Cyrillic_yeru",
                  "ctrl+Cyrillic_yeru" },
                { "KBD:#", "KBD:*", "KBD:8x20", "KBD:8x20", "KBD:8x20" });
}

void TestE2eKeys::alarmIsRedUntilAcknowledged()
{
    // D sends "#" and Escape "F": together they acknowledge and close
    // whatever message the key table left open.
    QVERIFY(session.pressKeys({ "d", "Escape" }));
    QVERIFY(messageScreenBecomes(Hidden));

    // F, the letter, sends "*": the demo's test alarm, all in red.
    QVERIFY(session.pressKeys({ "f" }));
    QVERIFY(messageScreenBecomes(Alarm));

    // Acknowledged, the message stays but turns white.
    QVERIFY(session.pressKeys({ "d" }));
    QVERIFY(messageScreenBecomes(Shown));

    QVERIFY(session.pressKeys({ "Escape" }));
    QVERIFY(messageScreenBecomes(Hidden));
}

void TestE2eKeys::expectLines(const QStringList &keys, const QByteArrayList &lines)
{
    const QByteArrayList before = session.emulator.receivedLines();
    QVERIFY(session.pressKeys(keys));
    QTRY_COMPARE_WITH_TIMEOUT(session.emulator.receivedLines().mid(before.size()), lines,
                              DesktopSession::waitMs);
    // Nothing more trails in: one press, one line.
    QTest::qWait(200);
    QCOMPARE(session.emulator.receivedLines().size(), before.size() + lines.size());
}

bool TestE2eKeys::messageScreenBecomes(MessageState state)
{
    const auto matches = [&] {
        const QImage image = session.grabWindow();
        const QRect area = messageArea(image);
        const int white = Pixels::count(image, Pixels::text, area);
        const int red = Pixels::count(image, Pixels::alarm);
        const bool autopilotStaysWhite = Pixels::count(image, Pixels::alarm, area) == red;
        switch (state) {
        case Hidden:
            return white == 0 && red == 0;
        case Shown:
            return white > 500 && red == 0;
        case Alarm:
            return white == 0 && red > 500 && autopilotStaysWhite;
        }
        return false;
    };
    return QTest::qWaitFor(matches, DesktopSession::waitMs);
}

QTEST_GUILESS_MAIN(TestE2eKeys)
#include "tst_e2ekeys.moc"
