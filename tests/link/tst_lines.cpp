#include "linktestsupport.h"

namespace {
const char ServerAddress[] = "127.0.0.3";
const QString Signature = QStringLiteral("void DebugCommunicator::onUIMsg(QByteArray)");

QString parseError(const char *description)
{
    return QStringLiteral("debug: %1 ui msg parse error:  \"%2\"").arg(Signature, QLatin1String(description));
}
} // namespace

class TestLines : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void linesOfOneWriteAreHandledInOneNotification();
    void decoderWorksWithoutSocket();
};

void TestLines::lines_data()
{
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<QStringList>("expected");

    const QString invalidType = QStringLiteral("debug: %1 ui msg has invalid json type").arg(Signature);

    QTest::newRow("both screens")
        << QByteArrayList{"UI:{\"autopilot\":{\"text\":\"T\",\"mask\":\"M\"},"
                          "\"msg\":{\"visible\":true,\"text\":\"m\",\"mask\":\"*\",\"isAlarm\":true}}\n"}
        << QStringList{"autopilot T|M", "msg 1 m|* 1"};
    QTest::newRow("msg written before autopilot")
        << QByteArrayList{"UI:{\"msg\":{\"text\":\"m\"},\"autopilot\":{\"text\":\"a\"}}\n"}
        << QStringList{"autopilot a|", "msg 0 m| 0"};
    QTest::newRow("empty object") << QByteArrayList{"UI:{}\n"} << QStringList{};
    QTest::newRow("unknown members only") << QByteArrayList{"UI:{\"Autopilot\":{},\"x\":1}\n"} << QStringList{};
    QTest::newRow("autopilot empty object") << QByteArrayList{"UI:{\"autopilot\":{}}\n"} << QStringList{"autopilot |"};
    QTest::newRow("autopilot null") << QByteArrayList{"UI:{\"autopilot\":null}\n"} << QStringList{"autopilot |"};
    QTest::newRow("autopilot string") << QByteArrayList{"UI:{\"autopilot\":\"text\"}\n"} << QStringList{"autopilot |"};
    QTest::newRow("autopilot array")
        << QByteArrayList{"UI:{\"autopilot\":[{\"text\":\"a\"}]}\n"} << QStringList{"autopilot |"};
    QTest::newRow("autopilot fields of wrong type")
        << QByteArrayList{"UI:{\"autopilot\":{\"text\":7,\"mask\":[\"*\"],\"extra\":1}}\n"} << QStringList{"autopilot |"};
    QTest::newRow("msg only text") << QByteArrayList{"UI:{\"msg\":{\"text\":\"A\"}}\n"} << QStringList{"msg 0 A| 0"};
    QTest::newRow("msg null") << QByteArrayList{"UI:{\"msg\":null}\n"} << QStringList{"msg 0 | 0"};
    QTest::newRow("msg number") << QByteArrayList{"UI:{\"msg\":3}\n"} << QStringList{"msg 0 | 0"};
    QTest::newRow("msg flags not strictly boolean")
        << QByteArrayList{"UI:{\"msg\":{\"visible\":\"true\",\"isAlarm\":1,\"text\":\"t\"}}\n"}
        << QStringList{"msg 0 t| 0"};
    QTest::newRow("msg flags null") << QByteArrayList{"UI:{\"msg\":{\"visible\":null,\"isAlarm\":null}}\n"}
                                    << QStringList{"msg 0 | 0"};
    QTest::newRow("msg visible only") << QByteArrayList{"UI:{\"msg\":{\"visible\":true}}\n"} << QStringList{"msg 1 | 0"};
    QTest::newRow("msg alarm only") << QByteArrayList{"UI:{\"msg\":{\"isAlarm\":true}}\n"} << QStringList{"msg 0 | 1"};
    QTest::newRow("colons in payload")
        << QByteArrayList{"UI:{\"autopilot\":{\"text\":\"12:30:45\",\"mask\":\"::\"}}\n"}
        << QStringList{"autopilot 12:30:45|::"};
    QTest::newRow("multi-row utf-8 text")
        << QByteArrayList{"UI:{\"autopilot\":{\"text\":\"\xd0\x9a\xd1\x83\xd1\x80\xd1\x81\\n\xc2\xb0\",\"mask\":\"*\"}}\n"}
        << QStringList{QStringLiteral("autopilot \u041a\u0443\u0440\u0441\n\u00b0|*")};
    QTest::newRow("crlf") << QByteArrayList{"UI:{\"autopilot\":{\"text\":\"T\"}}\r\n"} << QStringList{"autopilot T|"};

    QTest::newRow("lower-case tag") << QByteArrayList{"ui:{\"autopilot\":{}}\n"} << QStringList{};
    QTest::newRow("blank before tag") << QByteArrayList{" UI:{\"autopilot\":{}}\n"} << QStringList{};
    QTest::newRow("blank after tag") << QByteArrayList{"UI :{\"autopilot\":{}}\n"} << QStringList{};
    QTest::newRow("tag with nul byte") << QByteArrayList{QByteArray("UI\0:{\"autopilot\":{}}\n", 21)} << QStringList{};
    QTest::newRow("tag with prefix") << QByteArrayList{"UIX:{\"autopilot\":{}}\n"} << QStringList{};
    QTest::newRow("other tag") << QByteArrayList{"LOG:{\"autopilot\":{}}\n"} << QStringList{};
    QTest::newRow("empty tag") << QByteArrayList{":{\"autopilot\":{}}\n"} << QStringList{};

    QTest::newRow("no colon") << QByteArrayList{"hello\n"} << QStringList{"warning: Invalid message received: \"hello\n\""};
    QTest::newRow("lone line feed") << QByteArrayList{"\n"} << QStringList{"warning: Invalid message received: \"\n\""};
    QTest::newRow("printf directives in line")
        << QByteArrayList{"%s%n%d\r\n"} << QStringList{"warning: Invalid message received: \"%s%n%d\r\n\""};

    QTest::newRow("empty payload") << QByteArrayList{"UI:\n"} << QStringList{parseError("illegal value")};
    QTest::newRow("bare string") << QByteArrayList{"UI:\"x\"\n"} << QStringList{parseError("illegal value")};
    QTest::newRow("bare number") << QByteArrayList{"UI:5\n"} << QStringList{parseError("illegal value")};
    QTest::newRow("unterminated object")
        << QByteArrayList{"UI:{\"autopilot\":{}\n"} << QStringList{parseError("unterminated object")};
    QTest::newRow("garbage after object")
        << QByteArrayList{"UI:{\"autopilot\":{}} x\n"} << QStringList{parseError("garbage at the end of the document")};
    QTest::newRow("array") << QByteArrayList{"UI:[{\"autopilot\":{}}]\n"} << QStringList{invalidType};
    QTest::newRow("empty array") << QByteArrayList{"UI:[]\n"} << QStringList{invalidType};

    QTest::newRow("two lines in one write")
        << QByteArrayList{"UI:{\"autopilot\":{\"text\":\"1\"}}\nUI:{\"msg\":{\"text\":\"2\"}}\n"}
        << QStringList{"autopilot 1|", "msg 0 2| 0"};
    QTest::newRow("bad line then good line")
        << QByteArrayList{"junk\nUI:{\"msg\":{}}\n"}
        << QStringList{"warning: Invalid message received: \"junk\n\"", "msg 0 | 0"};
    QTest::newRow("parse error then good line")
        << QByteArrayList{"UI:{\nUI:{\"autopilot\":{\"text\":\"ok\"}}\n"}
        << QStringList{parseError("unterminated object"), "autopilot ok|"};
    QTest::newRow("line split across two writes")
        << QByteArrayList{"UI:{\"autopilot\":{\"te", "xt\":\"S\"}}\n"} << QStringList{"autopilot S|"};
    QTest::newRow("split right before line feed")
        << QByteArrayList{"UI:{\"msg\":{\"text\":\"x\"}}", "\n"} << QStringList{"msg 0 x| 0"};
    QTest::newRow("split between tag and colon")
        << QByteArrayList{"UI", ":{\"autopilot\":{}}\nUI:{\"msg\":", "{}}\n"} << QStringList{"autopilot |", "msg 0 | 0"};

    // Two read buffers' worth in one write: many passes, the intake paused
    // between them, often with part of a line left in the buffer.
    QByteArray backlog;
    QStringList backlogEvents;
    for (int i = 0; backlog.size() <= 2 * LineLimit; ++i) {
        backlog += autopilotLine(QByteArray::number(i));
        backlogEvents << QStringLiteral("autopilot %1|").arg(i);
    }
    QTest::newRow("backlog of two read buffers") << QByteArrayList{backlog} << backlogEvents;
}

// Each case is followed by a marker line, so the case is complete once the
// marker's update has arrived.
void TestLines::lines()
{
    QFETCH(QByteArrayList, writes);
    QFETCH(QStringList, expected);

    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());
    LinkEvents log(&fixture.link);

    for (const QByteArray &write : writes) {
        QSignalSpy arrived(fixture.linkSocket(), &QIODevice::readyRead);
        QVERIFY(fixture.send(write));
        QTRY_VERIFY_WITH_TIMEOUT(!arrived.isEmpty(), 15000);
    }
    QVERIFY(fixture.send(autopilotLine("marker")));
    QVERIFY(log.waitFor("autopilot marker|"));

    QCOMPARE(log.events.takeLast(), QStringLiteral("autopilot marker|"));
    QCOMPARE(log.events, expected);
}

void TestLines::linesOfOneWriteAreHandledInOneNotification()
{
    LinkFixture fixture(ServerAddress);
    QVERIFY(fixture.startConnected());
    LinkEvents log(&fixture.link);
    QSignalSpy first(&fixture.link, &DebugCommunicator::autopilotScreenReceived);

    QVERIFY(fixture.send(autopilotLine("1") + "other\n" + autopilotLine("2")));
    // The condition is only looked at between events, so by the time the
    // first signal is seen the notification that carried it is fully handled.
    QTRY_VERIFY_WITH_TIMEOUT(!first.isEmpty(), 15000);
    const QStringList expected{"autopilot 1|", "warning: Invalid message received: \"other\n\"", "autopilot 2|"};
    QCOMPARE(log.events, expected);
}

void TestLines::decoderWorksWithoutSocket()
{
    DebugCommunicator link;
    LinkEvents log(&link);
    link.onUIMsg("{\"msg\":{\"visible\":true},\"autopilot\":{\"mask\":\"*\"}}");
    link.onUIMsg("[]");
    const QStringList expected{"autopilot |*", "msg 1 | 0",
                               QStringLiteral("debug: %1 ui msg has invalid json type").arg(Signature)};
    QCOMPARE(log.events, expected);
}

QTEST_GUILESS_MAIN(TestLines)
#include "tst_lines.moc"
