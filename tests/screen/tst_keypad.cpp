#include "velmoscreenform.h"

#include <QKeyEvent>
#include <QSignalSpy>
#include <QtTest>

class TestKeypad : public QObject
{
    Q_OBJECT

private slots:
    void keyPress_data();
    void keyPress();
    void releaseEmitsNothing();
    void typedKeysReachTheForm();
};

void TestKeypad::keyPress_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("autoRepeat");
    QTest::addColumn<QString>("name"); // empty: nothing emitted, event ignored

    const QVector<QPair<int, const char *>> mapped{
        { Qt::Key_0, "0" }, { Qt::Key_1, "1" }, { Qt::Key_2, "2" }, { Qt::Key_3, "3" },
        { Qt::Key_4, "4" }, { Qt::Key_5, "5" }, { Qt::Key_6, "6" }, { Qt::Key_7, "7" },
        { Qt::Key_8, "8" }, { Qt::Key_9, "9" },
        { Qt::Key_Right, "RIGHT" }, { Qt::Key_Left, "LEFT" }, { Qt::Key_Up, "UP" },
        { Qt::Key_Down, "DOWN" }, { Qt::Key_Space, "PUSK" },
        { Qt::Key_Plus, "F" }, { Qt::Key_Escape, "F" },
        { Qt::Key_Return, "M" }, { Qt::Key_Enter, "M" },
        { Qt::Key_Period, "#" }, { Qt::Key_D, "#" }, { Qt::Key_Delete, "#" },
        { Qt::Key_Asterisk, "*" }, { Qt::Key_F, "*" }, { Qt::Key_S, "8x20" },
        // В, А and Ы: the D, F and S keys under the Russian layout.
        { 0x0412, "#" }, { 0x0410, "*" }, { 0x042B, "8x20" },
    };
    QCOMPARE(mapped.size(), 28);
    for (const auto &entry : mapped) {
        QTest::addRow("0x%x", entry.first)
            << entry.first << int(Qt::NoModifier) << false << QString::fromLatin1(entry.second);
    }

    QTest::newRow("Ctrl+S") << int(Qt::Key_S) << int(Qt::ControlModifier) << false << "8x20";
    QTest::newRow("Shift+D") << int(Qt::Key_D) << int(Qt::ShiftModifier) << false << "#";
    QTest::newRow("Shift+Ы") << 0x042B << int(Qt::ShiftModifier) << false << "8x20";
    QTest::newRow("Alt+Meta+F") << int(Qt::Key_F) << int(Qt::AltModifier | Qt::MetaModifier)
                                << false << "*";
    QTest::newRow("keypad 7") << int(Qt::Key_7) << int(Qt::KeypadModifier) << false << "7";
    QTest::newRow("keypad asterisk") << int(Qt::Key_Asterisk) << int(Qt::KeypadModifier) << false << "*";
    QTest::newRow("keypad plus") << int(Qt::Key_Plus) << int(Qt::KeypadModifier) << false << "F";
    QTest::newRow("keypad left") << int(Qt::Key_Left) << int(Qt::KeypadModifier) << false << "LEFT";
    QTest::newRow("keypad delete") << int(Qt::Key_Delete) << int(Qt::KeypadModifier) << false << "#";
    // The keypad's decimal key under a layout with a decimal comma.
    QTest::newRow("keypad comma") << int(Qt::Key_Comma) << int(Qt::KeypadModifier) << false << "#";
    QTest::newRow("auto-repeat S") << int(Qt::Key_S) << int(Qt::NoModifier) << true << "8x20";
    QTest::newRow("auto-repeat Up") << int(Qt::Key_Up) << int(Qt::NoModifier) << true << "UP";

    const QVector<QPair<int, const char *>> unmapped{
        { Qt::Key_A, "A" }, { Qt::Key_Backspace, "Backspace" }, { Qt::Key_F1, "F1" },
        { Qt::Key_Minus, "minus" }, { Qt::Key_Comma, "comma" }, { Qt::Key_NumberSign, "number sign" },
        { Qt::Key_Home, "Home" }, { Qt::Key_End, "End" }, { Qt::Key_PageUp, "PageUp" },
        { Qt::Key_PageDown, "PageDown" }, { Qt::Key_Insert, "Insert" }, { Qt::Key_Tab, "Tab" },
        { Qt::Key_Shift, "Shift alone" }, { Qt::Key_unknown, "unknown" }, { 0, "no key" },
        { 0x0424, "Ф, the A key under the Russian layout" },
    };
    for (const auto &entry : unmapped)
        QTest::newRow(entry.second) << entry.first << int(Qt::NoModifier) << false << QString();
    QTest::newRow("keypad Home") << int(Qt::Key_Home) << int(Qt::KeypadModifier) << false << QString();
    QTest::newRow("Shift+A") << int(Qt::Key_A) << int(Qt::ShiftModifier) << false << QString();
}

void TestKeypad::keyPress()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, autoRepeat);
    QFETCH(QString, name);

    VelmoScreenForm form;
    QSignalSpy spy(&form, &VelmoScreenForm::keyboardKeyPress);
    // The text deliberately disagrees with the key code: only the code counts.
    QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), QStringLiteral("?"),
                    autoRepeat);
    QApplication::sendEvent(&form, &event);

    if (name.isEmpty()) {
        QCOMPARE(spy.count(), 0);
        QVERIFY(!event.isAccepted());
    } else {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().first().toString(), name);
        QVERIFY(event.isAccepted());
    }
}

void TestKeypad::releaseEmitsNothing()
{
    VelmoScreenForm form;
    QSignalSpy spy(&form, &VelmoScreenForm::keyboardKeyPress);
    QTest::keyRelease(&form, Qt::Key_S);
    QTest::keyRelease(&form, Qt::Key_Return);
    QCOMPARE(spy.count(), 0);
}

void TestKeypad::typedKeysReachTheForm()
{
    VelmoScreenForm form;
    QSignalSpy spy(&form, &VelmoScreenForm::keyboardKeyPress);
    QTest::keyClicks(&form, QStringLiteral("sdf1a"));
    QTest::keyClick(&form, Qt::Key_Escape);
    QStringList names;
    for (const QList<QVariant> &arguments : qAsConst(spy))
        names << arguments.first().toString();
    QCOMPARE(names, (QStringList{ "8x20", "#", "*", "1", "F" }));
}

QTEST_MAIN(TestKeypad)
#include "tst_keypad.moc"
