#include "demounit.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

QStringList rows(const QString &text)
{
    return text.split('\n');
}

void pressKeys(DemoUnit &unit, const QString &keys)
{
    for (const QString &key : keys.split(' ', Qt::SkipEmptyParts))
        unit.pressKey(key);
}

void tick(DemoUnit &unit, int seconds)
{
    for (int i = 0; i < seconds; ++i)
        unit.tick();
}

// The client draws a fixed 20-column grid; a row of any other length would
// shift the frame, so every screen the demo can produce is checked for it.
void verifyGrid(const QString &text, const QString &mask, int rowCount)
{
    const QStringList textRows = rows(text);
    const QStringList maskRows = rows(mask);
    QCOMPARE(textRows.size(), rowCount);
    QCOMPARE(maskRows.size(), rowCount);
    for (int row = 0; row < rowCount; ++row) {
        QVERIFY2(textRows.at(row).size() == 20, qPrintable(textRows.at(row)));
        QVERIFY2(maskRows.at(row).size() == 20, qPrintable(maskRows.at(row)));
    }
}

} // namespace

class TestDemoUnit : public QObject
{
    Q_OBJECT

private slots:
    void editsFields_data();
    void editsFields();
    void blinkingCursorFollowsSelection_data();
    void blinkingCursorFollowsSelection();
    void messages_data();
    void messages();
    void everyScreenFillsTheGrid();
    void liveHeadingChangesEverySecond();
    void runSteersTheShortWayRound();
    void longRunEndsInAlarm();
    void unknownKeysChangeNothing();
};

void TestDemoUnit::editsFields_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("expected");

    QTest::newRow("course shifts digits in") << "1 2 3" << 2 << "║Курс задан.:  123°║";
    QTest::newRow("course past 359 restarts") << "3 6 5" << 2 << "║Курс задан.:  005°║";
    QTest::newRow("speed after DOWN") << "DOWN 2 0" << 4 << "║Скорость:    20 уз║";
    QTest::newRow("speed past 30 restarts") << "RIGHT 4 5" << 4 << "║Скорость:    05 уз║";
    QTest::newRow("rudder after two moves") << "DOWN DOWN 3 0" << 5 << "║Огр. руля:     30°║";
    QTest::newRow("UP wraps to rudder") << "UP 1 5" << 5 << "║Огр. руля:     15°║";
    QTest::newRow("LEFT wraps to rudder") << "LEFT 7" << 5 << "║Огр. руля:     07°║";
    QTest::newRow("edits stay put after moving on") << "9 0 DOWN 1" << 2 << "║Курс задан.:  090°║";
}

void TestDemoUnit::editsFields()
{
    QFETCH(QString, keys);
    QFETCH(int, row);
    QFETCH(QString, expected);

    DemoUnit unit;
    pressKeys(unit, keys);
    QCOMPARE(rows(unit.screens().autopilotText).at(row), expected);
}

void TestDemoUnit::blinkingCursorFollowsSelection_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("maskRow");

    QTest::newRow("course") << "" << 2 << "               ***  ";
    QTest::newRow("speed") << "DOWN" << 4 << "              **    ";
    QTest::newRow("rudder") << "DOWN DOWN" << 5 << "                **  ";
    QTest::newRow("back to course") << "RIGHT RIGHT RIGHT" << 2 << "               ***  ";
}

void TestDemoUnit::blinkingCursorFollowsSelection()
{
    QFETCH(QString, keys);
    QFETCH(int, row);
    QFETCH(QString, maskRow);

    DemoUnit unit;
    pressKeys(unit, keys);
    const QStringList mask = rows(unit.screens().autopilotMask);
    QCOMPARE(mask.at(row), maskRow);
    QCOMPARE(mask.join(QString()).count('*'), maskRow.count('*'));
}

void TestDemoUnit::messages_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("isAlarm");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");

    QTest::newRow("nothing") << "" << false << false << 1 << "";
    QTest::newRow("journal") << "M" << true << false << 1 << "│Пусков:          0│";
    QTest::newRow("journal counts runs") << "PUSK PUSK PUSK M" << true << false << 1 << "│Пусков:          2│";
    QTest::newRow("journal closed") << "M F" << false << false << 1 << "";
    QTest::newRow("alarm") << "*" << true << true << 1 << "│ТЕСТ АВАРИИ       │";
    QTest::newRow("alarm outlives F") << "* F" << true << true << 1 << "│ТЕСТ АВАРИИ       │";
    QTest::newRow("alarm beats journal") << "* M" << true << true << 1 << "│ТЕСТ АВАРИИ       │";
    QTest::newRow("alarm acknowledged") << "* #" << true << false << 2 << "│Квитир.  F-закрыть│";
    QTest::newRow("acknowledged alarm closed") << "* # F" << false << false << 1 << "";
    QTest::newRow("journal counts alarms") << "* # F * # F M" << true << false << 2 << "│Аварий:          2│";
}

void TestDemoUnit::messages()
{
    QFETCH(QString, keys);
    QFETCH(bool, visible);
    QFETCH(bool, isAlarm);
    QFETCH(int, row);
    QFETCH(QString, text);

    DemoUnit unit;
    pressKeys(unit, keys);
    const UnitScreens screens = unit.screens();
    QCOMPARE(screens.msgVisible, visible);
    QCOMPARE(screens.msgIsAlarm, isAlarm);
    QCOMPARE(rows(screens.msgText).value(row), text);
    // The alarm title blinks only until the alarm has been acknowledged.
    QCOMPARE(screens.msgMask.contains('*'), isAlarm);
}

void TestDemoUnit::everyScreenFillsTheGrid()
{
    DemoUnit unit;
    const QStringList keySequences = { "", "PUSK", "M", "*", "#", "DOWN 9 9", "F", "PUSK" };
    for (const QString &keys : keySequences) {
        pressKeys(unit, keys);
        tick(unit, 400);
        const UnitScreens screens = unit.screens();
        verifyGrid(screens.autopilotText, screens.autopilotMask, 8);
        if (screens.msgVisible)
            verifyGrid(screens.msgText, screens.msgMask, 4);
    }
}

void TestDemoUnit::liveHeadingChangesEverySecond()
{
    DemoUnit unit;
    QSignalSpy changes(&unit, &DemoUnit::screensChanged);
    QString previous = rows(unit.screens().autopilotText).at(3);
    for (int second = 0; second < 8; ++second) {
        unit.tick();
        const QString current = rows(unit.screens().autopilotText).at(3);
        QVERIFY2(current != previous, qPrintable(current));
        previous = current;
    }
    QCOMPARE(changes.count(), 8);
}

void TestDemoUnit::runSteersTheShortWayRound()
{
    DemoUnit unit; // heading starts at 40
    pressKeys(unit, "0 0 0 PUSK");
    tick(unit, 20);
    const QString headingRow = rows(unit.screens().autopilotText).at(3);
    // From 40 towards 0 at 3 degrees a second; a turn the long way round
    // would still be far from north.
    const int shown = headingRow.mid(15, 3).toInt();
    QVERIFY2(shown <= 1 || shown >= 359, qPrintable(headingRow));
    QVERIFY(rows(unit.screens().autopilotText).at(1).contains("РАБОТА"));
    QVERIFY(rows(unit.screens().autopilotText).at(1).endsWith("00:00:20║"));
}

void TestDemoUnit::longRunEndsInAlarm()
{
    DemoUnit unit;
    unit.pressKey("PUSK");
    tick(unit, DemoUnit::overheatAfterSeconds - 1);
    QVERIFY(!unit.screens().msgVisible);
    unit.tick();
    const UnitScreens screens = unit.screens();
    QVERIFY(screens.msgIsAlarm);
    QCOMPARE(rows(screens.msgText).at(1), QString("│ПЕРЕГРЕВ ПРИВОДА  │"));
    QVERIFY(rows(screens.autopilotText).at(1).startsWith("║СТОП"));
}

void TestDemoUnit::unknownKeysChangeNothing()
{
    DemoUnit unit;
    QSignalSpy changes(&unit, &DemoUnit::screensChanged);
    const QByteArray before = unit.screens().toUiLine();
    pressKeys(unit, "8x20 # F PUSKX 12 x");
    QCOMPARE(changes.count(), 0);
    QCOMPARE(unit.screens().toUiLine(), before);
}

QTEST_GUILESS_MAIN(TestDemoUnit)
#include "tst_demounit.moc"
