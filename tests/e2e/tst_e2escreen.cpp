#include "desktopsession.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

namespace {

// A screen of solid blocks makes each text row a clean band of white pixels:
// autopilot rows 0 and 7 (row 7 blinking) and message row 0.
const QByteArray script =
    "0 {\"autopilot\":{\"text\":\"████████████████████\\n\\n\\n\\n\\n\\n\\n████████████████████\","
    "\"mask\":\"\\n\\n\\n\\n\\n\\n\\n********************\"},"
    "\"msg\":{\"visible\":true,\"text\":\"████████████████████\\n\\n\\n\",\"mask\":\"\",\"isAlarm\":false}}\n";

int bandCount(const QImage &image)
{
    return Pixels::bands(image, Pixels::text).size();
}

int number(const QByteArray &text, const QString &pattern)
{
    return QRegularExpression(pattern).match(QString::fromUtf8(text)).captured(1).toInt();
}

} // namespace

// The client's window on a real X display, showing a scripted screen.
class TestE2eScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void titleAndFixedSize();
    void showsTheUnitsScreen();
    void blinkingRowAlternates();

private:
    DesktopSession session{ 141, "127.0.0.41" };
};

void TestE2eScreen::initTestCase()
{
    QVERIFY2(session.startDisplay(), qPrintable(session.lastError));
    const QString scriptFile = session.writeScript(script);
    QVERIFY(!scriptFile.isEmpty());
    QVERIFY2(session.startEmulator({ "--script", scriptFile }), qPrintable(session.lastError));
    QVERIFY2(session.startClient(), qPrintable(session.lastError));
}

void TestE2eScreen::titleAndFixedSize()
{
    const QByteArray title = session.runTool("xprop", { "-id", session.windowId(), "_NET_WM_NAME" });
    QCOMPARE(QString::fromUtf8(title), QString("_NET_WM_NAME(UTF8_STRING) = \"Экран ВЕЛМО-КС v5\"\n"));

    const QByteArray hints = session.runTool("xprop", { "-id", session.windowId(), "WM_NORMAL_HINTS" });
    const QByteArray geometry = session.runTool("xwininfo", { "-id", session.windowId() });
    const int width = number(geometry, "Width: (\\d+)");
    const int height = number(geometry, "Height: (\\d+)");
    QVERIFY2(width > 300 && height > 300, geometry);
    QCOMPARE(number(hints, "program specified maximum size: (\\d+) by"), width);
    QCOMPARE(number(hints, "program specified maximum size: \\d+ by (\\d+)"), height);
}

void TestE2eScreen::showsTheUnitsScreen()
{
    // Caught in the phase that draws the blinking row too.
    QImage image;
    QVERIFY(QTest::qWaitFor([&] { return bandCount(image = session.grabWindow()) == 3; },
                            DesktopSession::waitMs));

    const int pixels = image.width() * image.height();
    QVERIFY(Pixels::count(image, Pixels::background) > pixels / 2);
    QVERIFY(Pixels::count(image, Pixels::border) > image.height()); // frame sides
    QCOMPARE(Pixels::count(image, Pixels::alarm), 0);

    // Top row of the autopilot screen, its bottom row, then the message
    // screen; each spans the twenty columns, most of the window's width.
    const QVector<Pixels::Band> rows = Pixels::bands(image, Pixels::text);
    QVERIFY(rows[0].top < image.height() / 5);
    QVERIFY(rows[1].top > image.height() / 3 && rows[1].bottom < image.height() * 2 / 3);
    QVERIFY(rows[2].top > image.height() * 2 / 3);
    const int rowHeight = rows[0].bottom - rows[0].top + 1;
    for (const Pixels::Band &row : rows) {
        QVERIFY(row.right - row.left > image.width() * 3 / 4);
        QVERIFY(qAbs(row.bottom - row.top + 1 - rowHeight) <= 2);
    }
}

void TestE2eScreen::blinkingRowAlternates()
{
    // A 500 ms phase: over about 1.5 s the blinking row goes and comes back.
    // The wait is longer, for a machine so busy that screenshots come slowly.
    QVector<int> seen;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < DesktopSession::waitMs && seen.size() < 3) {
        const int count = bandCount(session.grabWindow());
        QVERIFY2(count == 2 || count == 3, qPrintable(QString::number(count)));
        if (seen.isEmpty() || seen.last() != count)
            seen.append(count);
        QTest::qWait(50);
    }
    QVERIFY2(seen.size() >= 3, qPrintable(QString("blink phases seen: %1").arg(seen.size())));
    // Two changes of phase take a whole phase at least.
    QVERIFY2(clock.elapsed() >= 500, "the row changed faster than the blink period");
}

QTEST_GUILESS_MAIN(TestE2eScreen)
#include "tst_e2escreen.moc"
