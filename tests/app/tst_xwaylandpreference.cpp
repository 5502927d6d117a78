#include "xwaylandpreference.h"

#include <QtTest>

// The platform start-up leaves for the toolkit, for each session a user may
// start the client in.
class TestXWaylandPreference : public QObject
{
    Q_OBJECT

private slots:
    void platform_data();
    void platform();
};

void TestXWaylandPreference::platform_data()
{
    // Null: not set.
    QTest::addColumn<QByteArray>("named");
    QTest::addColumn<QByteArray>("waylandDisplay");
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QByteArray>("platform");

    const QByteArray unset;
    const QByteArray wayland("wayland-0");
    const QByteArray x(":0");
    const QByteArray xcb("xcb");
    QTest::newRow("no display") << unset << unset << unset << unset;
    QTest::newRow("X without Wayland") << unset << unset << x << unset;
    QTest::newRow("Wayland without X") << unset << wayland << unset << unset;
    QTest::newRow("Wayland with XWayland") << unset << wayland << x << xcb;
    QTest::newRow("named empty, Wayland with XWayland") << QByteArray("") << wayland << x << xcb;
    QTest::newRow("named, no display") << QByteArray("offscreen") << unset << unset << QByteArray("offscreen");
    QTest::newRow("named, X without Wayland") << QByteArray("vnc") << unset << x << QByteArray("vnc");
    QTest::newRow("named, Wayland without X") << QByteArray("wayland") << wayland << unset << QByteArray("wayland");
    QTest::newRow("named, Wayland with XWayland") << QByteArray("wayland") << wayland << x << QByteArray("wayland");
}

void TestXWaylandPreference::platform()
{
    QFETCH(QByteArray, named);
    QFETCH(QByteArray, waylandDisplay);
    QFETCH(QByteArray, display);
    QFETCH(QByteArray, platform);
    const auto setOrUnset = [](const char *name, const QByteArray &value) {
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    };
    setOrUnset("QT_QPA_PLATFORM", named);
    setOrUnset("WAYLAND_DISPLAY", waylandDisplay);
    setOrUnset("DISPLAY", display);

    preferXWayland();

    QCOMPARE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"), !platform.isNull());
    QCOMPARE(qgetenv("QT_QPA_PLATFORM"), platform);
}

QTEST_APPLESS_MAIN(TestXWaylandPreference)
#include "tst_xwaylandpreference.moc"
