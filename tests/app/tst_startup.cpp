#include "clientprocess.h"
#include "xvfbserver.h"

// Start-up of the real client executable, driven like an operator would:
// a real X server (Xvfb), windows found by their titles and keys typed with
// xdotool. The client is copied with its settings into a folder of its own
// and started from another working directory.

#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

static const QString mainWindowTitle = QStringLiteral("Экран ВЕЛМО-КС v5");
static const QString dialogTitle = QStringLiteral("Выберите устройство");
static const QString settingsErrorTitle = QStringLiteral("Ошибка VelmoScreen.ini");
static const QByteArray fontLine = "VelmoScreenFont:  \"Ubuntu Mono\"";
static const int patience = 20000;
static QString clientUnderTest()
{
    return ClientProcess::underTest(QStringLiteral(VELMO_CLIENT));
}
static const quint16 unitPort = 21953;
// Cases that connect to 127.0.0.1 or may try the USB unit's address are only
// safe where nothing but loopback exists.
static const char privateNetworkNeeded[] =
    "needs a private network namespace: run through tests/private-network.sh";

// Listens as the unit on the given loopback addresses.
class FakeUnit
{
public:
    bool listen(const QStringList &addresses)
    {
        for (const QString &address : addresses) {
            servers.push_back(std::make_unique<QTcpServer>());
            if (!servers.back()->listen(QHostAddress(address), unitPort)) {
                qWarning() << "cannot listen on" << address << servers.back()->errorString();
                return false;
            }
        }
        return true;
    }

    // Non-blocking look at the listen queues: a connection the client has
    // made is there even if the event loop has not seen it yet.
    QTcpSocket *takeConnection(int waitMs = 0)
    {
        QElapsedTimer timer;
        timer.start();
        do {
            for (auto &server : servers) {
                if (server->waitForNewConnection(50))
                    return server->nextPendingConnection();
            }
        } while (timer.elapsed() < waitMs);
        return nullptr;
    }

private:
    std::vector<std::unique_ptr<QTcpServer>> servers;
};

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void refusedSetting_data();
    void refusedSetting();
    void acceptedSetting_data();
    void acceptedSetting();

    // Only inside a private network namespace (tests/private-network.sh).
    void hostNameSetting();
    void dialogAnswer_data();
    void dialogAnswer();

private:
    QProcessEnvironment clientEnvironment(const QString &lang) const;
    bool startClient(const QString &program, const QByteArray &settings, const QString &lang = "C");
    QString settingsPath() const { return client->settingsPath(); }
    bool windowVisible(const QString &title);
    bool waitForWindow(const QString &title);
    bool sendKeys(const QString &title, const QVector<QStringList> &input);
    void expectQuietExit();
    static bool privateNetwork();

    std::unique_ptr<XvfbServer> x;
    std::unique_ptr<QTemporaryDir> workDir;
    std::unique_ptr<ClientProcess> client;
};

void TestStartup::initTestCase()
{
    // A block of ten display numbers starting at VELMO_TEST_DISPLAY; the first
    // free one is taken, so that runs from several build folders can overlap.
    bool numberGiven = false;
    const int first = qEnvironmentVariableIntValue("VELMO_TEST_DISPLAY", &numberGiven);
    QVERIFY2(numberGiven, "VELMO_TEST_DISPLAY must give the first Xvfb display number to try");
    x = std::make_unique<XvfbServer>(first, 10, QStringLiteral("1024x768x24"));
    QString error;
    QVERIFY2(x->start(&error), qPrintable(error));
}

void TestStartup::cleanupTestCase()
{
    x.reset();
}

void TestStartup::init()
{
    workDir = std::make_unique<QTemporaryDir>();
    QVERIFY(workDir->isValid());
    // A decoy in the working directory: the client must look beside itself.
    QFile decoy(workDir->filePath(QStringLiteral("VelmoScreen.ini")));
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    decoy.write("[connection]\nremoteIp=\n");
}

void TestStartup::cleanup()
{
    if (client)
        client->stop();
    if (QTest::currentTestFailed() && client)
        qInfo().noquote() << "client output:\n" << client->log();
    client.reset();
}

QProcessEnvironment TestStartup::clientEnvironment(const QString &lang) const
{
    QProcessEnvironment env = x->environment();
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LANGUAGE", "QT_MESSAGE_PATTERN",
                             "QT_LOGGING_RULES"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("LANG"), lang);
    // Only the language varies; with a UTF-8 character set the X window
    // names stay readable for xdotool whatever the language.
    env.insert(QStringLiteral("LC_CTYPE"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), workDir->path());
    // The client draws no GL; loading Mesa's GLX only slows it down and leaves
    // allocations of that library behind for leak checkers.
    env.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
    return env;
}

// Copies the client into a folder of its own, next to `settings` (no file
// when null), and starts it from the decoy's folder.
bool TestStartup::startClient(const QString &program, const QByteArray &settings, const QString &lang)
{
    client = std::make_unique<ClientProcess>(program, QString());
    client->setSettings(settings);
    client->setWorkingDirectory(workDir->path());
    QString error;
    const bool started = client->start(clientEnvironment(lang), &error);
    if (!started)
        qWarning().noquote() << error;
    return started;
}

bool TestStartup::windowVisible(const QString &title)
{
    return !x->findWindow('^' + title + '$').isEmpty();
}

bool TestStartup::waitForWindow(const QString &title)
{
    return QTest::qWaitFor([&] { return windowVisible(title) || !client->isRunning(); },
                           patience)
        && windowVisible(title);
}

// Gives the window the keyboard focus, then plays xdotool commands such as
// {"key", "Down", "Return"}, each in a call of its own so that they go
// through the XTEST extension as a real keyboard would type them. One
// command per entry: "type" takes every argument after it as text.
bool TestStartup::sendKeys(const QString &title, const QVector<QStringList> &input)
{
    const QString window = x->findWindow('^' + title + '$');
    if (window.isEmpty() || !x->focusWindow(window))
        return false;
    // Wine makes the window active for Windows a little after X gave it the
    // focus, and a key before that reaches no widget.
    if (ClientProcess::isWindowsExecutable(clientUnderTest()))
        QTest::qWait(500);
    return std::all_of(input.begin(), input.end(),
                       [this](const QStringList &command) { return x->xdotool(command); });
}

void TestStartup::expectQuietExit()
{
    QVERIFY2(client->waitForExit(patience), "the client did not exit");
    QCOMPARE(client->exitStatus(), QProcess::NormalExit);
    QCOMPARE(client->exitCode(), 0);
}

bool TestStartup::privateNetwork()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    return std::all_of(interfaces.begin(), interfaces.end(), [](const QNetworkInterface &interface) {
        return interface.flags() & QNetworkInterface::IsLoopBack;
    });
}

void TestStartup::refusedSetting_data()
{
    QTest::addColumn<QByteArray>("settings");

    QTest::newRow("empty value") << QByteArray("[connection]\nremoteIp=\n");
    QTest::newRow("empty quoted value") << QByteArray("[connection]\nremoteIp=\"\"\n");
    QTest::newRow("unquoted comma") << QByteArray("[connection]\nremoteIp=127.0.0.21,127.0.0.22\n");
}

void TestStartup::refusedSetting()
{
    QFETCH(QByteArray, settings);
    FakeUnit unit;
    QVERIFY(unit.listen({"127.0.0.21", "127.0.0.22"}));

    QVERIFY(startClient(clientUnderTest(), settings));
    QVERIFY2(waitForWindow(settingsErrorTitle), "no message box");
    QVERIFY(!windowVisible(mainWindowTitle));
    QVERIFY(sendKeys(settingsErrorTitle, {{"key", "Return"}}));
    expectQuietExit();
    QVERIFY2(!unit.takeConnection(), "the client connected");

    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), settings);
}

void TestStartup::acceptedSetting_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QByteArrayList>("logged");
    QTest::addColumn<QByteArrayList>("notLogged");

    const QByteArrayList translators{"qtTranslator ok", "qtBaseTranslator ok"};
    QTest::newRow("Russian locale") << clientUnderTest() << "ru_RU.UTF-8"
                                    << (translators + QByteArrayList{fontLine}) << QByteArrayList();
    QTest::newRow("C locale") << clientUnderTest() << "C" << QByteArrayList{fontLine} << translators;
    // The build without the font bundle is made only beside the client built here.
    if (clientUnderTest() != QLatin1String(VELMO_CLIENT))
        return;
    const QByteArray noFontLine = "VelmoScreenFont: could not be registered, the screens use a fallback font";
    QTest::newRow("font missing") << VELMO_CLIENT_WITHOUT_FONT << "C" << QByteArrayList{noFontLine}
                                  << QByteArrayList{fontLine};
}

void TestStartup::acceptedSetting()
{
    QFETCH(QString, program);
    QFETCH(QString, lang);
    QFETCH(QByteArrayList, logged);
    QFETCH(QByteArrayList, notLogged);
    FakeUnit unit;
    QVERIFY(unit.listen({"127.0.0.23"}));

    const QByteArray settings("[connection]\nremoteIp=127.0.0.23\n");
    QVERIFY(startClient(program, settings, lang));
    QTcpSocket *link = unit.takeConnection(patience);
    QVERIFY2(link, "no connection from the client");
    QVERIFY2(waitForWindow(mainWindowTitle), "no main window");

    QVERIFY(sendKeys(mainWindowTitle, {{"key", "s"}}));
    QVERIFY(QTest::qWaitFor([&] { return link->bytesAvailable() >= 9; }, patience));
    QCOMPARE(link->readAll(), QByteArray("KBD:8x20\n"));

    const QByteArray log = client->log();
    for (const QByteArray &line : logged)
        QVERIFY2(log.contains(line + '\n'), line.constData());
    for (const QByteArray &line : notLogged)
        QVERIFY2(!log.contains(line), line.constData());

    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), settings);
}

void TestStartup::hostNameSetting()
{
    if (!privateNetwork())
        QSKIP(privateNetworkNeeded);
    FakeUnit unit;
    QVERIFY(unit.listen({"127.0.0.1", "::1"}));

    QVERIFY(startClient(clientUnderTest(), "[connection]\nremoteIp=localhost\n"));
    QVERIFY2(unit.takeConnection(patience), "no connection to localhost");
    QVERIFY2(waitForWindow(mainWindowTitle), "no main window");
}

void TestStartup::dialogAnswer_data()
{
    QTest::addColumn<QVector<QStringList>>("input");
    QTest::addColumn<QString>("unitAddress"); // empty: no unit can be reached
    QTest::addColumn<bool>("windowShown");

    using Input = QVector<QStringList>;
    QTest::newRow("Escape") << Input{{"key", "Escape"}} << QString() << false;
    QTest::newRow("USB unit") << Input{{"key", "Return"}} << QString() << true;
    QTest::newRow("emulator") << Input{{"key", "Down", "Return"}} << "127.0.0.1" << true;
    QTest::newRow("other address")
        << Input{{"key", "Down", "Down", "Tab", "ctrl+a", "BackSpace"}, {"type", "127.0.0.33"}, {"key", "Return"}}
        << "127.0.0.33" << true;
}

void TestStartup::dialogAnswer()
{
    QFETCH(QVector<QStringList>, input);
    QFETCH(QString, unitAddress);
    QFETCH(bool, windowShown);
    if (!privateNetwork())
        QSKIP(privateNetworkNeeded);
    if (!unitAddress.isEmpty() && ClientProcess::isWindowsExecutable(clientUnderTest()))
        QSKIP("under Wine the radio buttons take the test's quick keys only in part (the focus moves, the "
              "choice does not follow); typed by hand they choose");
    FakeUnit unit;
    QVERIFY(unit.listen({unitAddress.isEmpty() ? QStringLiteral("127.0.0.1") : unitAddress}));

    QVERIFY(startClient(clientUnderTest(), QByteArray()));
    QVERIFY2(waitForWindow(dialogTitle), "no dialog");
    QVERIFY(!windowVisible(mainWindowTitle));
    QVERIFY(sendKeys(dialogTitle, input));

    if (!windowShown) {
        expectQuietExit();
        QVERIFY(!unit.takeConnection());
    } else {
        QVERIFY2(waitForWindow(mainWindowTitle), "no main window");
        if (unitAddress.isEmpty()) {
            // Unreachable here: the client must keep running and retrying.
            QTest::qWait(1500);
            QVERIFY(client->isRunning());
            QVERIFY(!unit.takeConnection());
        } else {
            QVERIFY2(unit.takeConnection(patience), "no connection to the chosen address");
        }
    }
    QVERIFY2(!QFile::exists(settingsPath()), "the answer was written to the settings");
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
