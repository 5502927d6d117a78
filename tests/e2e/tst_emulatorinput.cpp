#include "emulatoroptions.h"
#include "emulatorprocess.h"
#include "sessionrecorder.h"
#include "testfiles.h"
#include "unitscript.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

// What a user hands the emulator: script files and the command line.
class TestEmulatorInput : public QObject
{
    Q_OBJECT

private slots:
    void parsesScripts_data();
    void parsesScripts();
    void rejectsBadScripts_data();
    void rejectsBadScripts();
    void failedParseKeepsEarlierScript();
    void recorderWritesWhatTheReaderPlays_data();
    void recorderWritesWhatTheReaderPlays();
    void exampleScriptFillsTheGrid();
    void parsesOptions_data();
    void parsesOptions();
    void parsesRelayTargets_data();
    void parsesRelayTargets();
    void rejectsBadOptions_data();
    void rejectsBadOptions();
    void helpWinsOverEverythingElse();
    void refusesToRelayToAnOwnAddress();
};

void TestEmulatorInput::parsesScripts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<int>>("delays");
    QTest::addColumn<QByteArrayList>("lines");

    QTest::newRow("one step") << QByteArray("0 {\"msg\":{}}") << QList<int>{ 0 }
                              << QByteArrayList{ "UI:{\"msg\":{}}\n" };
    QTest::newRow("comments, blanks, CRLF")
        << QByteArray("# title\r\n\r\n  250   { \"autopilot\" : {} }  \r\n #0 {}\n1000 {}\r\n")
        << QList<int>{ 250, 1000 } << QByteArrayList{ "UI:  { \"autopilot\" : {} }  \r\n", "UI:{}\r\n" };
    QTest::newRow("message as written, carriage returns inside kept")
        << QByteArray("0 \t{}\r \r\n4 @3 \r{}\n") << QList<int>{ 0, 4 }
        << QByteArrayList{ "UI:\t{}\r \r\n", "UI:\r{}\n" };
    QTest::newRow("member order kept, colons and UTF-8 inside")
        << QByteArray("5 {\"msg\":{\"text\":\"a:b ║\"},\"autopilot\":null}") << QList<int>{ 5 }
        << QByteArrayList{ "UI:{\"msg\":{\"text\":\"a:b ║\"},\"autopilot\":null}\n" };
    QTest::newRow("byte-order mark before a comment")
        << QByteArray("\xEF\xBB\xBF# saved by a Windows editor\r\n0 {}\r\n") << QList<int>{ 0 }
        << QByteArrayList{ "UI:{}\r\n" };
    QTest::newRow("byte-order mark before a step") << QByteArray("\xEF\xBB\xBF" "20 {}") << QList<int>{ 20 }
                                                   << QByteArrayList{ "UI:{}\n" };
    QTest::newRow("longest delay") << QByteArray("86400000 {}") << QList<int>{ UnitScript::maxDelayMs }
                                   << QByteArrayList{ "UI:{}\n" };
    QTest::newRow("steps marked with their client")
        << QByteArray("# 0 -- client 127.0.0.1:5000 connected\n3 {\"msg\":{}}\n# 9 @2 KBD:UP\n7 @2 {}")
        << QList<int>{ 3, 7 } << QByteArrayList{ "UI:{\"msg\":{}}\n", "UI:{}\n" };
    // As many bytes before the line feed as a line may have, a carriage
    // return before it counted.
    for (const QByteArray end : { "\n", "\r\n" }) {
        const QByteArray message =
            "{\"msg\":\"" + QByteArray(int(UnitScript::maxLineBytes) - 11 - end.size(), 'x') + "\"}";
        QTest::newRow(end.size() == 1 ? "longest line, LF" : "longest line, CR LF")
            << "0 " + message + end << QList<int>{ 0 } << QByteArrayList{ "UI:" + message + end };
    }
}

void TestEmulatorInput::parsesScripts()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<int>, delays);
    QFETCH(QByteArrayList, lines);

    UnitScript script;
    QString error;
    QVERIFY2(script.parse(text, &error), qPrintable(error));
    QCOMPARE(script.steps().size(), delays.size());
    for (int i = 0; i < delays.size(); ++i) {
        QCOMPARE(script.steps().at(i).delayMs, delays.at(i));
        QCOMPARE(script.steps().at(i).uiLine, lines.at(i));
    }
}

void TestEmulatorInput::rejectsBadScripts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("errorStart");

    QTest::newRow("empty") << QByteArray("") << "the script has no screens";
    QTest::newRow("only comments") << QByteArray("# 0 {}\n\n") << "the script has no screens";
    QTest::newRow("no delay") << QByteArray("{\"msg\":{}}") << "line 1: expected";
    QTest::newRow("no message") << QByteArray("100") << "line 1: expected";
    QTest::newRow("negative delay") << QByteArray("0 {}\n-5 {}") << "line 2: expected";
    QTest::newRow("delay too long") << QByteArray("86400001 {}") << "line 1: expected";
    QTest::newRow("delay not a number") << QByteArray("1s {}") << "line 1: expected";
    QTest::newRow("broken JSON") << QByteArray("0 {}\n\n0 {\"msg\":") << "line 3: ";
    QTest::newRow("array") << QByteArray("0 [1]") << "line 1: the message must be a JSON object";
    QTest::newRow("string") << QByteArray("0 \"x\"") << "line 1: ";
    QTest::newRow("client mark without a number") << QByteArray("0 @ {}") << "line 1: expected a client";
    QTest::newRow("client mark of client 0") << QByteArray("0 @0 {}") << "line 1: expected a client";
    QTest::newRow("client mark without a message") << QByteArray("0 @2") << "line 1: expected a client";
    QTest::newRow("not JSON white space around the message") << QByteArray("0 {}\n0 \v{}") << "line 2: ";
    QTest::newRow("line too long")
        << "0 {}\n# x\n0 {\"msg\":\"" + QByteArray(int(UnitScript::maxLineBytes), 'x') + "\"}\n" << "line 3: longer than";
}

void TestEmulatorInput::rejectsBadScripts()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, errorStart);

    UnitScript script;
    QString error;
    QVERIFY(!script.parse(text, &error));
    QVERIFY2(error.startsWith(errorStart), qPrintable(error));
}

void TestEmulatorInput::failedParseKeepsEarlierScript()
{
    UnitScript script;
    QString error;
    QVERIFY(script.parse("7 {}", &error));
    QVERIFY(!script.parse("7 {}\nbad", &error));
    QCOMPARE(script.steps().size(), 1);
}

void TestEmulatorInput::recorderWritesWhatTheReaderPlays_data()
{
    // What the recorder sees, one "<ms> unit|client <bytes>" or "<ms> connect"
    // (a second client) each, and the steps that the script reader then takes
    // from its recording.
    QTest::addColumn<QByteArrayList>("events");
    QTest::addColumn<QList<int>>("delays");
    QTest::addColumn<QByteArrayList>("lines");

    const qint64 day = UnitScript::maxDelayMs;
    QTest::newRow("a key between two screens")
        << QByteArrayList{ "0 unit UI:{\"a\":1}\n", "150 client KBD:UP", "300 unit UI:{\"b\":2}\n" }
        << QList<int>{ 0, 300 } << QByteArrayList{ "UI:{\"a\":1}\n", "UI:{\"b\":2}\n" };
    QTest::newRow("a pause of more than a day")
        << QByteArrayList{ "5 unit UI:{\"a\":1}\n", QByteArray::number(5 + 2 * day + 7) + " unit UI:{\"b\":2}\n" }
        << QList<int>{ 5, int(day), int(day), 7 }
        << QByteArrayList{ "UI:{\"a\":1}\n", "UI:{}\n", "UI:{}\n", "UI:{\"b\":2}\n" };
    QTest::newRow("messages as sent")
        << QByteArrayList{ "0 unit UI: {\"a\":1} \r\n", "2 unit UI:{\"b\":2}\r\r\n", "3 unit UI:\t{}\n" }
        << QList<int>{ 0, 2, 1 } << QByteArrayList{ "UI: {\"a\":1} \r\n", "UI:{\"b\":2}\r\r\n", "UI:\t{}\n" };
    QTest::newRow("lines that are no screens")
        << QByteArrayList{ "0 unit UI:\v{}\n", "1 unit UI:{}\f\n", "2 unit UI:[1]\n", "3 unit UI:\"s\"\n",
                           "4 unit UI:\n", "5 unit LOG:{}\n", "6 unit UI:{\"a\":1}\n" }
        << QList<int>{ 6 } << QByteArrayList{ "UI:{\"a\":1}\n" };
    // The clock runs on from the first client's connection.
    QTest::newRow("a second client connecting mid-session")
        << QByteArrayList{ "0 unit UI:{\"a\":1}\n", "1000 unit UI:{\"b\":2}\n", "1200 connect",
                           "1500 unit UI:{\"c\":3}\n" }
        << QList<int>{ 0, 1000, 500 } << QByteArrayList{ "UI:{\"a\":1}\n", "UI:{\"b\":2}\n", "UI:{\"c\":3}\n" };
}

void TestEmulatorInput::recorderWritesWhatTheReaderPlays()
{
    QFETCH(QByteArrayList, events);
    QFETCH(QList<int>, delays);
    QFETCH(QByteArrayList, lines);

    QTemporaryDir dir;
    const QString fileName = dir.filePath("session.txt");
    qint64 nowMs = 0;
    {
        // Each reading a millisecond on, as a real clock may turn over between two.
        SessionRecorder recorder([&nowMs] { return nowMs++; });
        QString error;
        QVERIFY2(recorder.open(fileName, "127.0.0.1:21953", &error), qPrintable(error));
        recorder.clientConnected(1, "127.0.0.1:5000");
        LineReader unitLines(1024);
        for (const QByteArray &event : events) {
            const QList<QByteArray> fields = event.split(' ');
            nowMs = fields.at(0).toLongLong();
            const QByteArray bytes = event.mid(fields.at(0).size() + fields.at(1).size() + 2);
            if (fields.at(1) == "client") {
                recorder.clientLine(1, bytes);
                continue;
            }
            if (fields.at(1) == "connect") {
                recorder.clientConnected(2, "127.0.0.1:5001");
                continue;
            }
            const QVector<LineReader::Line> read = unitLines.append(bytes);
            QCOMPARE(read.size(), 1);
            recorder.unitLine(1, read.first());
        }
    }
    QVERIFY(readFile(fileName).contains("\n# 0 -- client 127.0.0.1:5000 connected\n"));
    UnitScript script;
    QString error;
    QVERIFY2(script.load(fileName, &error), qPrintable(error));
    QCOMPARE(script.steps().size(), delays.size());
    for (int i = 0; i < delays.size(); ++i) {
        QCOMPARE(script.steps().at(i).delayMs, delays.at(i));
        QCOMPARE(script.steps().at(i).uiLine, lines.at(i));
    }
}

void TestEmulatorInput::exampleScriptFillsTheGrid()
{
    UnitScript script;
    QString error;
    QVERIFY2(script.load(QStringLiteral(VELMO_EXAMPLES_DIR "/tour.txt"), &error), qPrintable(error));
    QVERIFY(script.steps().size() > 3);
    for (const UnitScript::Step &step : script.steps()) {
        const QJsonObject message = QJsonDocument::fromJson(step.uiLine.mid(3)).object();
        const QJsonObject autopilot = message.value("autopilot").toObject();
        const QJsonObject msg = message.value("msg").toObject();
        QStringList rows = autopilot.value("text").toString().split('\n');
        QCOMPARE(rows.size(), 8);
        if (msg.value("visible").toBool())
            rows += msg.value("text").toString().split('\n');
        for (const QString &row : rows)
            QVERIFY2(row.size() == 20, qPrintable(row));
    }
}

void TestEmulatorInput::parsesOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("floodCount");

    const int demo = int(EmulatorOptions::Mode::Demo);
    QTest::newRow("defaults") << QStringList{} << demo << "127.0.0.1" << 21953 << 0;
    QTest::newRow("listen and port") << QStringList{ "--listen", "127.0.0.44", "--port", "4000" }
                                     << demo << "127.0.0.44" << 4000 << 0;
    QTest::newRow("localhost") << QStringList{ "--listen=localhost" } << demo << "127.0.0.1" << 21953 << 0;
    QTest::newRow("IPv6 loopback") << QStringList{ "--listen", "::1" } << demo << "::1" << 21953 << 0;
    QTest::newRow("script") << QStringList{ "--script", "a.txt" } << int(EmulatorOptions::Mode::Script)
                            << "127.0.0.1" << 21953 << 0;
    QTest::newRow("flood") << QStringList{ "--flood", "2500" } << int(EmulatorOptions::Mode::Flood)
                           << "127.0.0.1" << 21953 << 2500;
    QTest::newRow("flood of none") << QStringList{ "--flood", "0" } << int(EmulatorOptions::Mode::Flood)
                                   << "127.0.0.1" << 21953 << 0;
}

void TestEmulatorInput::parsesOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, mode);
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(int, floodCount);

    EmulatorOptions options;
    QCOMPARE(options.parse(QStringList{ "emulator" } + arguments), EmulatorOptions::Outcome::Run);
    QCOMPARE(int(options.mode), mode);
    QCOMPARE(options.address, QHostAddress(address));
    QCOMPARE(int(options.port), port);
    QCOMPARE(options.floodCount, floodCount);
}

void TestEmulatorInput::parsesRelayTargets_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");

    QTest::newRow("address") << "127.0.0.9" << "127.0.0.9" << 21953;
    QTest::newRow("address and port") << "127.0.0.9:4000" << "127.0.0.9" << 4000;
    QTest::newRow("localhost and port") << "localhost:4000" << "127.0.0.1" << 4000;
    QTest::newRow("IPv6") << "::1" << "::1" << 21953;
    QTest::newRow("IPv6 in brackets") << "[::1]" << "::1" << 21953;
    QTest::newRow("IPv6 and port") << "[::1]:4000" << "::1" << 4000;
}

void TestEmulatorInput::parsesRelayTargets()
{
    QFETCH(QString, target);
    QFETCH(QString, address);
    QFETCH(int, port);

    EmulatorOptions options;
    QCOMPARE(options.parse({ "emulator", "--relay", target, "--record", "r.txt" }), EmulatorOptions::Outcome::Run);
    QCOMPARE(options.mode, EmulatorOptions::Mode::Relay);
    QCOMPARE(options.relayAddress, QHostAddress(address));
    QCOMPARE(int(options.relayPort), port);
    QCOMPARE(options.recordFile, QString("r.txt"));
    QCOMPARE(options.address, QHostAddress(QHostAddress::LocalHost));
}

void TestEmulatorInput::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("unknown option") << QStringList{ "--fast" };
    QTest::newRow("missing value") << QStringList{ "--port" };
    QTest::newRow("stray argument") << QStringList{ "127.0.0.1" };
    QTest::newRow("host name") << QStringList{ "--listen", "unit.example" };
    QTest::newRow("port zero") << QStringList{ "--port", "0" };
    QTest::newRow("port too big") << QStringList{ "--port", "65536" };
    QTest::newRow("port not a number") << QStringList{ "--port", "21953x" };
    QTest::newRow("negative flood") << QStringList{ "--flood", "-1" };
    QTest::newRow("flood too big") << QStringList{ "--flood", "1000000000" };
    QTest::newRow("script and flood") << QStringList{ "--script", "a.txt", "--flood", "5" };
    QTest::newRow("relay and script") << QStringList{ "--relay", "127.0.0.1", "--script", "a.txt" };
    QTest::newRow("record without relay") << QStringList{ "--record", "r.txt" };
    QTest::newRow("relay to a host name") << QStringList{ "--relay", "unit.example" };
    QTest::newRow("relay port zero") << QStringList{ "--relay", "127.0.0.1:0" };
    QTest::newRow("relay port left out") << QStringList{ "--relay", "127.0.0.1:" };
    QTest::newRow("relay bracket not closed") << QStringList{ "--relay", "[::1:4000" };
    QTest::newRow("relay to itself") << QStringList{ "--relay", "127.0.0.1" };
    QTest::newRow("relay to itself, listening everywhere")
        << QStringList{ "--listen", "0.0.0.0", "--relay", "127.0.0.3" };
    QTest::newRow("relay to itself, IPv4-mapped")
        << QStringList{ "--listen", "127.0.0.9", "--relay", "[::ffff:127.0.0.9]" };
    QTest::newRow("relay to itself, listening IPv4-mapped")
        << QStringList{ "--listen", "::ffff:127.0.0.9", "--relay", "127.0.0.9" };
    QTest::newRow("record to no file") << QStringList{ "--relay", "127.0.0.9", "--record", "" };
}

void TestEmulatorInput::rejectsBadOptions()
{
    QFETCH(QStringList, arguments);

    EmulatorOptions options;
    QCOMPARE(options.parse(QStringList{ "emulator" } + arguments), EmulatorOptions::Outcome::Error);
    QVERIFY(!options.errorText().isEmpty());
}

void TestEmulatorInput::helpWinsOverEverythingElse()
{
    for (const char *help : { "--help", "-h", "--help-all" }) {
        EmulatorOptions options;
        QCOMPARE(options.parse({ "emulator", "--port", "1", help }), EmulatorOptions::Outcome::ShowHelp);
        QVERIFY(options.helpText().contains("<delay-ms> <json>"));
    }
}

// Listening on every address, the emulator must not relay to any of the
// machine's own, loopback or not. The machine's addresses are whatever they
// are; the test gives one to loopback inside a network namespace of its own.
void TestEmulatorInput::refusesToRelayToAnOwnAddress()
{
    QProcess emulator;
    emulator.start(QStringLiteral(VELMO_PRIVATE_NETWORK),
                   { "sh", "-c", "ip address add 10.9.9.9/32 dev lo && exec \"$0\" --listen 0.0.0.0 --relay 10.9.9.9",
                     EmulatorProcess::executable() });
    if (!emulator.waitForFinished(5000))
        emulator.kill();
    emulator.waitForFinished();
    const QByteArray errors = emulator.readAllStandardError();
    QCOMPARE(emulator.exitCode(), 2);
    QVERIFY2(errors.contains("--relay 10.9.9.9 is where this emulator listens"), errors);
}

QTEST_GUILESS_MAIN(TestEmulatorInput)
#include "tst_emulatorinput.moc"
