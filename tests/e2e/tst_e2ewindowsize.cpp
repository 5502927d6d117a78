#include "desktopsession.h"

#include <QtTest>

#include <functional>

namespace {

// Every row of both screens full of solid blocks, none blinking: a cut
// column or a stretched frame changes the picture.
QByteArray fullScreensScript()
{
    const QByteArray row = "████████████████████";
    const auto rows = [&](int count) {
        QByteArrayList lines;
        for (int i = 0; i < count; ++i)
            lines << row;
        return lines.join("\\n");
    };
    return "0 {\"autopilot\":{\"text\":\"" + rows(8) + "\",\"mask\":\"\"},"
           "\"msg\":{\"visible\":true,\"text\":\"" + rows(4) + "\",\"mask\":\"\",\"isAlarm\":false}}\n";
}

// The window at its opening size, placed in the middle of `image`, with
// nothing but the background around it.
bool holdsCentred(const QImage &image, const QImage &opening)
{
    const QRect middle(QPoint((image.width() - opening.width()) / 2, (image.height() - opening.height()) / 2),
                       opening.size());
    if (!image.rect().contains(middle) || image.copy(middle) != opening)
        return false;
    const int outside = image.width() * image.height() - opening.width() * opening.height();
    return Pixels::count(image, Pixels::background) - Pixels::count(opening, Pixels::background) == outside;
}

} // namespace

// Window managers that ignore the window's maximum size (a maximise, a
// fullscreen request, a program's resize) make it larger from outside, as
// xdotool does here on a display without one.
class TestE2eWindowSize : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void forcedSizeKeepsTheScreens_data();
    void forcedSizeKeepsTheScreens();

private:
    bool resizeTo(const QRect &geometry);
    bool grabUntil(const std::function<bool(const QImage &)> &shows);

    DesktopSession session{ 187, "127.0.0.187" };
    QImage opening;
    QPoint openingPosition;
};

void TestE2eWindowSize::initTestCase()
{
    QVERIFY2(session.startDisplay(), qPrintable(session.lastError));
    const QString scriptFile = session.writeScript(fullScreensScript());
    QVERIFY(!scriptFile.isEmpty());
    QVERIFY2(session.startEmulator({ "--script", scriptFile }), qPrintable(session.lastError));
    QVERIFY2(session.startClient(), qPrintable(session.lastError));

    // Twelve rows of blocks, each as wide as twenty columns of the font.
    QVERIFY(QTest::qWaitFor([this] { return Pixels::bands(opening = session.grabWindow(), Pixels::text).size() == 12; },
                            DesktopSession::waitMs));
    const QVector<Pixels::Band> rows = Pixels::bands(opening, Pixels::text);
    for (const Pixels::Band &row : rows)
        QCOMPARE(row.right - row.left, rows.first().right - rows.first().left);

    const QByteArray position = session.runTool("xdotool", { "getwindowgeometry", "--shell", session.windowId() });
    const QRegularExpressionMatch x = QRegularExpression("X=(-?\\d+)").match(QString::fromLatin1(position));
    const QRegularExpressionMatch y = QRegularExpression("Y=(-?\\d+)").match(QString::fromLatin1(position));
    QVERIFY2(x.hasMatch() && y.hasMatch(), position);
    openingPosition = QPoint(x.captured(1).toInt(), y.captured(1).toInt());
}

void TestE2eWindowSize::forcedSizeKeepsTheScreens_data()
{
    QTest::addColumn<QRect>("geometry");

    const QSize size = opening.size();
    QTest::newRow("larger") << QRect(openingPosition, size + QSize(254, 150));
    QTest::newRow("wider") << QRect(openingPosition, size + QSize(301, 0));
    QTest::newRow("taller") << QRect(openingPosition, size + QSize(0, 131));
    QTest::newRow("fullscreen") << QRect(0, 0, 1024, 768);
}

void TestE2eWindowSize::forcedSizeKeepsTheScreens()
{
    QFETCH(QRect, geometry);

    QVERIFY(resizeTo(geometry));
    QImage forced;
    QVERIFY2(grabUntil([&](const QImage &image) {
                 forced = image;
                 return image.size() == geometry.size() && holdsCentred(image, opening);
             }),
             qPrintable(QString("window %1x%2, text rows seen: %3")
                            .arg(forced.width()).arg(forced.height())
                            .arg(Pixels::bands(forced, Pixels::text).size())));

    QVERIFY(resizeTo(QRect(openingPosition, opening.size())));
    QVERIFY2(grabUntil([this](const QImage &image) { return image == opening; }),
             "back at its opening size, the window looks different");
}

bool TestE2eWindowSize::resizeTo(const QRect &geometry)
{
    const QString window = session.windowId();
    return !session.runTool("xdotool", { "windowmove", window, QString::number(geometry.x()),
                                         QString::number(geometry.y()) }).isNull()
        && !session.runTool("xdotool", { "windowsize", window, QString::number(geometry.width()),
                                         QString::number(geometry.height()) }).isNull();
}

// The client draws a new size a moment after the server has applied it.
bool TestE2eWindowSize::grabUntil(const std::function<bool(const QImage &)> &shows)
{
    return QTest::qWaitFor([&] { return shows(session.grabWindow()); }, DesktopSession::waitMs);
}

QTEST_GUILESS_MAIN(TestE2eWindowSize)
#include "tst_e2ewindowsize.moc"
