#include "selectremotehostdlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

class TestSelectRemoteHostDlg : public QObject
{
    Q_OBJECT

private slots:
    void opensWithUsbUnitChosen();
    void rowsAndTabOrder();
    void lineEditFollowsCustomChoice();
    void addressOfChoice_data();
    void addressOfChoice();
    void answer_data();
    void answer();

private:
    template<typename T>
    static T *child(const SelectRemoteHostDlg &dialog, const char *name)
    {
        T *widget = dialog.findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
};

void TestSelectRemoteHostDlg::opensWithUsbUnitChosen()
{
    SelectRemoteHostDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Выберите устройство"));
    QVERIFY(child<QRadioButton>(dialog, "usbOtgUnitRB")->isChecked());
    QVERIFY(!child<QRadioButton>(dialog, "localHostRB")->isChecked());
    QVERIFY(!child<QRadioButton>(dialog, "customIpRB")->isChecked());
    QCOMPARE(child<QRadioButton>(dialog, "usbOtgUnitRB")->text(), QStringLiteral("Блок через USB OTG"));
    QCOMPARE(child<QRadioButton>(dialog, "localHostRB")->text(),
             QStringLiteral("Эмулятор на компьютере (локально)"));
    QCOMPARE(child<QRadioButton>(dialog, "customIpRB")->text(), QStringLiteral("Другой IP:"));
    QLineEdit *edit = child<QLineEdit>(dialog, "customIpLE");
    QCOMPARE(edit->text(), QStringLiteral("10.0.11.1"));
    QVERIFY(!edit->isEnabled());
    QCOMPARE(dialog.selectedRemoteIp(), QStringLiteral("10.0.11.1"));

    auto *buttons = child<QDialogButtonBox>(dialog, "buttonBox");
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(buttons->orientation(), Qt::Horizontal);
}

void TestSelectRemoteHostDlg::rowsAndTabOrder()
{
    SelectRemoteHostDlg dialog;
    auto *form = child<QFormLayout>(dialog, "formLayout");
    QCOMPARE(form->rowCount(), 4);
    QCOMPARE(form->itemAt(0, QFormLayout::SpanningRole)->widget(), child<QWidget>(dialog, "usbOtgUnitRB"));
    QCOMPARE(form->itemAt(1, QFormLayout::SpanningRole)->widget(), child<QWidget>(dialog, "localHostRB"));
    QCOMPARE(form->itemAt(2, QFormLayout::LabelRole)->widget(), child<QWidget>(dialog, "customIpRB"));
    QCOMPARE(form->itemAt(2, QFormLayout::FieldRole)->widget(), child<QWidget>(dialog, "customIpLE"));
    QSpacerItem *spacer = form->itemAt(3, QFormLayout::LabelRole)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(20, 0));
    QCOMPARE(spacer->expandingDirections(), Qt::Vertical);

    QWidget *w = child<QWidget>(dialog, "usbOtgUnitRB");
    for (const char *next : {"localHostRB", "customIpRB", "customIpLE"}) {
        w = w->nextInFocusChain();
        QCOMPARE(w->objectName(), QLatin1String(next));
    }
}

void TestSelectRemoteHostDlg::lineEditFollowsCustomChoice()
{
    SelectRemoteHostDlg dialog;
    QLineEdit *edit = child<QLineEdit>(dialog, "customIpLE");
    child<QRadioButton>(dialog, "customIpRB")->click();
    QVERIFY(edit->isEnabled());
    QCOMPARE(edit->text(), QStringLiteral("10.0.11.1"));
    edit->setText(QStringLiteral("192.0.2.7"));

    for (const char *other : {"localHostRB", "usbOtgUnitRB"}) {
        child<QRadioButton>(dialog, "customIpRB")->click();
        QVERIFY(edit->isEnabled());
        child<QRadioButton>(dialog, other)->click();
        QVERIFY2(!edit->isEnabled(), other);
        QCOMPARE(edit->text(), QStringLiteral("192.0.2.7"));
    }
}

void TestSelectRemoteHostDlg::addressOfChoice_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("typed"); // null: leave the line edit as it is
    QTest::addColumn<QString>("address");

    QTest::newRow("usb unit") << "usbOtgUnitRB" << QString() << "10.0.11.1";
    QTest::newRow("usb unit, edit changed") << "usbOtgUnitRB" << "127.0.0.9" << "10.0.11.1";
    QTest::newRow("emulator") << "localHostRB" << QString() << "127.0.0.1";
    QTest::newRow("emulator, edit changed") << "localHostRB" << "192.0.2.1" << "127.0.0.1";
    QTest::newRow("custom untouched") << "customIpRB" << QString() << "10.0.11.1";
    QTest::newRow("custom typed") << "customIpRB" << "192.0.2.44" << "192.0.2.44";
    QTest::newRow("custom with spaces") << "customIpRB" << " 192.0.2.44  " << " 192.0.2.44  ";
    QTest::newRow("custom host name") << "customIpRB" << "unit.local" << "unit.local";
    QTest::newRow("custom emptied") << "customIpRB" << "" << "";
}

void TestSelectRemoteHostDlg::addressOfChoice()
{
    QFETCH(QString, choice);
    QFETCH(QString, typed);
    QFETCH(QString, address);

    SelectRemoteHostDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QLineEdit *edit = child<QLineEdit>(dialog, "customIpLE");
    if (!typed.isNull()) {
        // Typed like an operator: the edit must be enabled for that.
        child<QRadioButton>(dialog, "customIpRB")->click();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, typed);
    }
    child<QRadioButton>(dialog, qPrintable(choice))->click();
    QCOMPARE(dialog.selectedRemoteIp(), address);
}

enum class Answer { OkButton, ReturnKey, CancelButton, EscapeKey, CloseWindow };
Q_DECLARE_METATYPE(Answer)

void TestSelectRemoteHostDlg::answer_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("result");

    QTest::newRow("OK") << Answer::OkButton << int(QDialog::Accepted);
    QTest::newRow("Return") << Answer::ReturnKey << int(QDialog::Accepted);
    QTest::newRow("Cancel") << Answer::CancelButton << int(QDialog::Rejected);
    QTest::newRow("Escape") << Answer::EscapeKey << int(QDialog::Rejected);
    QTest::newRow("window closed") << Answer::CloseWindow << int(QDialog::Rejected);
}

void TestSelectRemoteHostDlg::answer()
{
    QFETCH(Answer, answer);
    QFETCH(int, result);

    SelectRemoteHostDlg dialog;
    auto *buttons = child<QDialogButtonBox>(dialog, "buttonBox");
    // Answered from inside exec(), as the operator would: keys go to the
    // widget holding the focus.
    QTimer::singleShot(0, &dialog, [&] {
        if (!QTest::qWaitForWindowActive(&dialog) || !dialog.focusWidget())
            return dialog.done(-2);
        switch (answer) {
        case Answer::OkButton: buttons->button(QDialogButtonBox::Ok)->click(); break;
        case Answer::ReturnKey: QTest::keyClick(dialog.focusWidget(), Qt::Key_Return); break;
        case Answer::CancelButton: buttons->button(QDialogButtonBox::Cancel)->click(); break;
        case Answer::EscapeKey: QTest::keyClick(dialog.focusWidget(), Qt::Key_Escape); break;
        case Answer::CloseWindow: dialog.close(); break;
        }
    });
    QTimer::singleShot(20000, &dialog, [&] { dialog.done(-1); }); // never hang the run
    QCOMPARE(dialog.exec(), result);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TestSelectRemoteHostDlg)
#include "tst_selectremotehostdlg.moc"
