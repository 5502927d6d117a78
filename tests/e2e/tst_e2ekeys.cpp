#include "desktopsession.h"

#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>

namespace {

// The link handles a flood of screens in passes of a few milliseconds and the
// window's keys between them, so a key waits for the rest of one pass. With
// passes ten times as long, or none, it waits up to a whole socket buffer of
// screens (1 MiB, about 1,300 screens). On a machine loaded ten runnable
// processes deep on two cores the median key took 9 to 23 ms with the bound,
// 53 to 92 ms with it ten times as long and 71 to 136 ms without it.
constexpr int floodKeyCount = 21;
constexpr int floodKeyMedianLimitMs = 40;

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
    void russianLayout_data();
    void russianLayout();
    void alarmIsRedUntilAcknowledged();
    void keysOvertakeFlood();

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

void TestE2eKeys::russianLayout_data()
{
    QTest::addColumn<QStringList>("keys"); // xdotool key names
    QTest::addColumn<QByteArrayList>("lines");

    // xdotool finds the letters on the physical D, A, F and S keys.
    QTest::newRow("letters") << QStringList{ "Cyrillic_ve", "Cyrillic_ef", "Cyrillic_a", "Cyrillic_yeru",
                                             "shift+Cyrillic_yeru", "ctrl+Cyrillic_yeru" }
                             << QByteArrayList{ "KBD:#", "KBD:*", "KBD:8x20", "KBD:8x20", "KBD:8x20" };
    // The keypad's decimal key gives a comma here (its second level, which
    // Num Lock selects); the main keyboard's comma maps to nothing.
    QTest::newRow("keypad decimal") << QStringList{ "KP_Separator", "KP_Delete" }
                                    << QByteArrayList{ "KBD:#", "KBD:#" };
    QTest::newRow("comma sends nothing") << QStringList{ "comma", "7" } << QByteArrayList{ "KBD:7" };
}

void TestE2eKeys::russianLayout()
{
    QFETCH(QStringList, keys);
    QFETCH(QByteArrayList, lines);

    // The layout is switched on the server, as an operator would, and back
    // for the tests that type Latin letters.
    QVERIFY(!session.runTool("setxkbmap", { "-layout", "ru" }).isNull());
    const auto restoreLayout =
        qScopeGuard([this] { session.runTool("setxkbmap", { "-layout", "us" }); });
    expectLines(keys, lines);
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

// A unit that floods the window with screens as fast as the client takes them
// still gets each key within a few passes of the link, not after the backlog.
void TestE2eKeys::keysOvertakeFlood()
{
    DesktopSession flooded{ 148, "127.0.0.48" };
    QVERIFY2(flooded.startDisplay(), qPrintable(flooded.lastError));
    QVERIFY2(flooded.startEmulator({ "--flood", "999999999" }), qPrintable(flooded.lastError));
    QVERIFY2(flooded.startClient(), qPrintable(flooded.lastError));
    QTRY_COMPARE_WITH_TIMEOUT(flooded.emulator.connectionCount(), 1, DesktopSession::waitMs);
    // Every buffer on the way fills up before the first key, while the
    // keyboard starts with a key that sends nothing.
    QVERIFY2(flooded.typeKeyAtOnce("a"), qPrintable(flooded.lastError));
    QTest::qWait(1000);

    QVector<qint64> delaysMs;
    for (int i = 0; i < floodKeyCount; ++i) {
        const int before = flooded.emulator.receivedLines().size();
        QElapsedTimer sincePress;
        sincePress.start();
        QVERIFY2(flooded.typeKeyAtOnce("Up"), qPrintable(flooded.lastError));
        while (flooded.emulator.receivedLines().size() == before && sincePress.elapsed() < DesktopSession::waitMs)
            flooded.emulator.process.waitForReadyRead(int(DesktopSession::waitMs - sincePress.elapsed()));
        QCOMPARE(flooded.emulator.receivedLines().mid(before), QByteArrayList{ "KBD:UP" });
        delaysMs << sincePress.elapsed();
        // Uneven gaps, so that the keys fall at every point of a pass.
        QTest::qWait(40 + (i * 37) % 90);
    }

    qInfo() << "key to the unit under the flood, ms:" << delaysMs;
    std::sort(delaysMs.begin(), delaysMs.end());
    const qint64 medianMs = delaysMs.at(floodKeyCount / 2);
    QVERIFY2(medianMs < floodKeyMedianLimitMs, qPrintable(QString::number(medianMs)));
}

QTEST_GUILESS_MAIN(TestE2eKeys)
#include "tst_e2ekeys.moc"
