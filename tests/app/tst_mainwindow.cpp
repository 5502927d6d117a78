#include "debugcommunicator.h"
#include "mainwindow.h"
#include "velmoscreenform.h"

#include <QLabel>
#include <QLayout>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void titleCarriesVersion();
    void cannotGrowBeyondOpeningSize();
    void screenFormIsTheFormInsideCentralWidget();
    void darkBackgroundAroundTheForm();
    void linkAndFormWiredTogether();
};

void TestMainWindow::titleCarriesVersion()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Экран ВЕЛМО-КС v5"));
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
}

void TestMainWindow::cannotGrowBeyondOpeningSize()
{
    MainWindow window;
    QVERIFY(!window.isVisible());
    // Built from the form's size hint, not left at the designer's 466x614.
    QCOMPARE(window.size(), window.sizeHint());
    QCOMPARE(window.maximumSize(), window.size());

    const QSize opening = window.size();
    window.show();
    window.resize(opening + QSize(200, 200));
    QCOMPARE(window.size(), opening);
}

void TestMainWindow::screenFormIsTheFormInsideCentralWidget()
{
    MainWindow window;
    VelmoScreenForm *form = window.screenForm();
    QVERIFY(form);
    QCOMPARE(window.screenForm(), form);
    QCOMPARE(form->objectName(), QStringLiteral("form"));
    QCOMPARE(form->parentWidget(), window.centralWidget());
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralwidget"));

    QLayout *layout = window.centralWidget()->layout();
    QCOMPARE(layout->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(layout->count(), 1);
    QCOMPARE(layout->itemAt(0)->widget(), form);
}

void TestMainWindow::darkBackgroundAroundTheForm()
{
    MainWindow window;
    QCOMPARE(window.styleSheet(),
             QStringLiteral("QWidget\n{\n    background-color: rgb(28,28,28);\n}"));
    QCOMPARE(window.centralWidget()->layout()->contentsMargins(), QMargins(2, 2, 2, 2));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage shot = window.grab().toImage();
    // A pixel of the 2-pixel margin, outside the form.
    QCOMPARE(QColor(shot.pixel(window.centralWidget()->mapTo(&window, QPoint(0, 0)) + QPoint(1, 1))),
             QColor(28, 28, 28));
}

// The same three connections start-up makes, then a key press on the form
// and a screen update from the unit go over a real loopback connection.
void TestMainWindow::linkAndFormWiredTogether()
{
    QTcpServer unit;
    QVERIFY2(unit.listen(QHostAddress(QStringLiteral("127.0.0.20")), DebugCommunicator::UnitPort),
             qPrintable(unit.errorString()));

    DebugCommunicator link(nullptr);
    MainWindow window(nullptr);
    QObject::connect(&link, &DebugCommunicator::autopilotScreenReceived,
                     window.screenForm(), &VelmoScreenForm::setAutopilotScreen);
    QObject::connect(&link, &DebugCommunicator::msgScreenReceived,
                     window.screenForm(), &VelmoScreenForm::setMsgScreen);
    QObject::connect(window.screenForm(), &VelmoScreenForm::keyboardKeyPress,
                     &link, &DebugCommunicator::sendKbdPress);
    link.start(QStringLiteral("127.0.0.20"));
    window.show();

    QVERIFY(unit.waitForNewConnection(10000));
    QTcpSocket *client = unit.nextPendingConnection();
    QVERIFY(client);
    // A key pressed before the link has seen its connection up is dropped.
    QTRY_COMPARE_WITH_TIMEOUT(link.findChild<QTcpSocket *>()->state(), QAbstractSocket::ConnectedState, 10000);

    QTest::keyClick(window.screenForm(), Qt::Key_S);
    QTRY_COMPARE_WITH_TIMEOUT(client->bytesAvailable(), qint64(9), 10000);
    QCOMPARE(client->readAll(), QByteArray("KBD:8x20\n"));

    auto *screen = window.screenForm()->findChild<QLabel *>(QStringLiteral("autopilotScr"));
    QVERIFY(screen);
    client->write("UI:{\"autopilot\":{\"text\":\"LINE ONE\",\"mask\":\"\"}}\n");
    QTRY_COMPARE_WITH_TIMEOUT(screen->text(), QStringLiteral("LINE ONE"), 10000);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
