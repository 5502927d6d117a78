#include "screenshot.h"

#include <QFontMetrics>
#include <QLabel>
#include <QStackedWidget>
#include <QtTest>

using namespace ScreenTest;

namespace {

const QString block = QStringLiteral("\u2588");

} // namespace

class TestScreenPixels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void hiddenMessageScreen();
    void shownMessageScreen();
    void alarmIsRed();
    void maskedCellBlinks();
    void labelsSpanTwentyCells();

private:
    VelmoScreenForm *form = nullptr;
};

void TestScreenPixels::initTestCase()
{
    QVERIFY(ScreenFonts::install() >= 0);
}

void TestScreenPixels::init()
{
    form = new VelmoScreenForm;
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
}

void TestScreenPixels::cleanup()
{
    delete form;
    form = nullptr;
}

void TestScreenPixels::hiddenMessageScreen()
{
    const Shot shot(*form);
    QCOMPARE(shot.image.size(), form->size());
    QVERIFY(shot.bordered("autopilotScrFrame"));
    QVERIFY(shot.count(shot.rectOf("autopilotScr"), white) > 0);
    QVERIFY(shot.all(shot.rectOf("msgStackedWidget"), background));
    const QRect gap(0, shot.rectOf("autopilotScrFrame").bottom() + 1, form->width(), 2);
    QVERIFY(shot.all(gap, background));
}

void TestScreenPixels::shownMessageScreen()
{
    const QSize hiddenSize = form->size();
    const QRect autopilotFrame = Shot(*form).rectOf("autopilotScrFrame");

    form->setMsgScreen(true, "MSG", "", false);
    const Shot shown(*form);
    QVERIFY(shown.bordered("autopilotScrFrame"));
    QVERIFY(shown.bordered("msgScrFrame"));
    QVERIFY(shown.count(shown.rectOf("msgScr"), white) > 0);
    QCOMPARE(shown.count(shown.rectOf("msgScr"), red), 0);
    QCOMPARE(form->size(), hiddenSize);
    QCOMPARE(shown.rectOf("autopilotScrFrame"), autopilotFrame);

    form->setMsgScreen(false, "", "", false);
    const Shot hidden(*form);
    QVERIFY(hidden.all(hidden.rectOf("msgStackedWidget"), background));
    QCOMPARE(form->size(), hiddenSize);
    QCOMPARE(hidden.rectOf("autopilotScrFrame"), autopilotFrame);
}

void TestScreenPixels::alarmIsRed()
{
    form->setMsgScreen(true, block.repeated(4), "", true);
    const Shot alarm(*form);
    QVERIFY(alarm.count(alarm.cell("msgScr", 0, 0), red) > 0);
    QCOMPARE(alarm.count(alarm.rectOf("msgScr"), white), 0);
    QVERIFY(alarm.count(alarm.rectOf("autopilotScr"), white) > 0);
    QVERIFY(alarm.bordered("msgScrFrame"));

    form->setMsgScreen(true, block.repeated(4), "", false);
    const Shot normal(*form);
    QVERIFY(normal.count(normal.cell("msgScr", 0, 0), white) > 0);
    QCOMPARE(normal.count(normal.rectOf("msgScr"), red), 0);
}

void TestScreenPixels::maskedCellBlinks()
{
    form->setAutopilotScreen(block + block, "*");
    const Shot on(*form);
    QVERIFY(on.count(on.cell("autopilotScr", 0, 0), white) > 0);
    QVERIFY(on.count(on.cell("autopilotScr", 1, 0), white) > 0);
    QVERIFY(on.all(on.cell("autopilotScr", 2, 0), background));
    QVERIFY(on.all(on.cell("autopilotScr", 0, 1), background));

    blinkTick(*form);
    const Shot off(*form);
    QVERIFY(off.all(off.cell("autopilotScr", 0, 0), background));
    QVERIFY(off.count(off.cell("autopilotScr", 1, 0), white) > 0);

    blinkTick(*form);
    const Shot onAgain(*form);
    QVERIFY(onAgain.count(onAgain.cell("autopilotScr", 0, 0), white) > 0);
}

void TestScreenPixels::labelsSpanTwentyCells()
{
    form->adjustSize();
    const QFontMetrics metrics(child<QLabel>(*form, "autopilotScr")->font());
    const int cell = metrics.horizontalAdvance(QLatin1Char('?'));
    const QFontInfo info(child<QLabel>(*form, "autopilotScr")->font());
    QCOMPARE(info.family(), QStringLiteral("Ubuntu Mono"));
    QVERIFY(info.bold());
    QVERIFY(info.fixedPitch());
    QCOMPARE(child<QLabel>(*form, "autopilotScr")->sizeHint().width(), 20 * cell);
    QCOMPARE(child<QLabel>(*form, "msgScr")->sizeHint().width(), 20 * cell);
    qInfo("form %dx%d (size hint %dx%d), cell %dx%d", form->width(), form->height(),
          form->sizeHint().width(), form->sizeHint().height(), cell, metrics.height());
}

QTEST_MAIN(TestScreenPixels)
#include "tst_screenpixels.moc"
