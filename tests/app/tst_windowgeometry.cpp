#include "debugcommunicator.h"
#include "mainwindow.h"
#include "screentest.h"

#include <QLabel>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using ScreenTest::child;

namespace {

const char unitAddress[] = "127.0.0.90";

QString rowsOf(int rows, int columns)
{
    const QString row = QStringLiteral("0123456789").repeated(columns / 10 + 1).left(columns);
    return (row + QLatin1Char('\n')).repeated(rows).chopped(1);
}

QRect geometryIn(const QWidget &window, const char *name)
{
    const QWidget *widget = child<QWidget>(window, name);
    return QRect(widget->mapTo(&window, QPoint()), widget->size());
}

// Lets every posted layout request and paint run.
void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void showNormalScreens(VelmoScreenForm *form)
{
    form->setAutopilotScreen(QStringLiteral("КУРС 180°\n═══\nЗАДАНО   180\nSPEED 14"), QString());
    form->setMsgScreen(true, QStringLiteral("АВАРИЯ\nТЕСТ"), QString(), true);
}

// Counts the layout requests that reach each widget, by object name.
class LayoutRequests : public QObject
{
public:
    LayoutRequests() { qApp->installEventFilter(this); }
    ~LayoutRequests() override { qApp->removeEventFilter(this); }

    QMap<QString, int> byWidget;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            ++byWidget[watched->objectName()];
        return false;
    }
};

} // namespace

class TestWindowGeometry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oversizedScreensKeepTheWindow_data();
    void oversizedScreensKeepTheWindow();
    void pageSwitchLaysOutNothingAroundTheMessageScreen();
    void everyFloodedScreenReachesTheForm();
};

void TestWindowGeometry::initTestCase()
{
    QVERIFY(ScreenFonts::install() >= 0);
}

void TestWindowGeometry::oversizedScreensKeepTheWindow_data()
{
    QTest::addColumn<QString>("autopilot");
    QTest::addColumn<QString>("message");

    QTest::newRow("rows of 30") << rowsOf(8, 30) << rowsOf(4, 30);
    QTest::newRow("a row of 2000") << rowsOf(1, 2000) << rowsOf(1, 2000);
    QTest::newRow("a row of 200000") << rowsOf(1, 200000) << QString();
    QTest::newRow("5000 rows") << rowsOf(5000, 20) << rowsOf(5000, 20);
    QTest::newRow("long rows, many of them") << rowsOf(300, 300) << rowsOf(300, 300);
}

// Whatever the unit sends, the window keeps the size it opened with and the
// screens stay where they were; the labels still hold the whole text, and a
// normal screen afterwards looks exactly as on a fresh window.
void TestWindowGeometry::oversizedScreensKeepTheWindow()
{
    QFETCH(QString, autopilot);
    QFETCH(QString, message);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize opening = window.size();
    const QSize hint = window.sizeHint();
    const QRect autopilotFrame = geometryIn(window, "autopilotScrFrame");
    const QRect messageArea = geometryIn(window, "msgStackedWidget");

    VelmoScreenForm *form = window.screenForm();
    form->setAutopilotScreen(autopilot, QStringLiteral("*"));
    form->setMsgScreen(true, message, QString(), false);
    settle();

    QCOMPARE(window.size(), opening);
    QCOMPARE(window.sizeHint(), hint);
    QCOMPARE(geometryIn(window, "autopilotScrFrame"), autopilotFrame);
    QCOMPARE(geometryIn(window, "msgStackedWidget"), messageArea);
    QCOMPARE(child<QLabel>(window, "msgScr")->text(), message);

    MainWindow fresh;
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    showNormalScreens(form);
    showNormalScreens(fresh.screenForm());
    settle();
    QCOMPARE(window.grab().toImage(), fresh.grab().toImage());
}

// Showing and hiding the message screen with new texts each time must not
// make the layouts of the form and the window run again: the screens' size
// does not depend on their text.
void TestWindowGeometry::pageSwitchLaysOutNothingAroundTheMessageScreen()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    VelmoScreenForm *form = window.screenForm();
    settle();

    LayoutRequests requests;
    for (int i = 1; i <= 10; ++i) {
        form->setAutopilotScreen(rowsOf(8, 20 + i), QString());
        form->setMsgScreen(true, rowsOf(4, 20 + i), QString(), i % 2);
        settle();
        form->setMsgScreen(false, QString(), QString(), false);
        settle();
    }
    for (const char *outer : { "MainWindow", "centralwidget", "form", "autopilotScrFrame", "msgScrFrame" })
        QVERIFY2(!requests.byWidget.contains(QLatin1String(outer)), outer);
}

// A unit writing screens back to back: each one reaches the form, in order,
// and is on the labels when its signal has been handled.
void TestWindowGeometry::everyFloodedScreenReachesTheForm()
{
    const int screens = 3000;
    QTcpServer unit;
    QVERIFY2(unit.listen(QHostAddress(QLatin1String(unitAddress)), DebugCommunicator::UnitPort),
             qPrintable(unit.errorString()));

    DebugCommunicator link;
    MainWindow window;
    VelmoScreenForm *form = window.screenForm();
    QObject::connect(&link, &DebugCommunicator::autopilotScreenReceived, form, &VelmoScreenForm::setAutopilotScreen);
    QObject::connect(&link, &DebugCommunicator::msgScreenReceived, form, &VelmoScreenForm::setMsgScreen);
    window.show();

    const QLabel *autopilotScr = child<QLabel>(window, "autopilotScr");
    const QLabel *msgScr = child<QLabel>(window, "msgScr");
    const QStackedWidget *pages = child<QStackedWidget>(window, "msgStackedWidget");
    int received = 0;
    QStringList faults;
    QObject::connect(&link, &DebugCommunicator::msgScreenReceived, [&](bool visible, const QString &text) {
        ++received;
        const QString expected = QStringLiteral("SCREEN %1").arg(received);
        if (autopilotScr->text() != expected || pages->currentIndex() != int(visible)
            || (visible && msgScr->text() != expected))
            faults << expected;
        if (text != expected)
            faults << QStringLiteral("signal of %1 carried %2").arg(expected, text);
    });

    QByteArray flood;
    for (int i = 1; i <= screens; ++i) {
        const QByteArray text = "SCREEN " + QByteArray::number(i);
        flood += "UI:{\"autopilot\":{\"text\":\"" + text + "\"},\"msg\":{\"visible\":"
            + (i % 3 ? "true" : "false") + ",\"text\":\"" + text + "\",\"isAlarm\":" + (i % 7 ? "false" : "true")
            + "}}\n";
    }
    link.start(QLatin1String(unitAddress));
    QVERIFY(unit.waitForNewConnection(10000));
    unit.nextPendingConnection()->write(flood);

    QTRY_COMPARE_WITH_TIMEOUT(received, screens, 60000);
    QCOMPARE(faults, QStringList());
}

QTEST_MAIN(TestWindowGeometry)
#include "tst_windowgeometry.moc"
