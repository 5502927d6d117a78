#include "debugcommunicator.h"
#include "mainwindow.h"
#include "screenfonts.h"
#include "selectremotehostdlg.h"
#include "velmoscreenform.h"
#include "xwaylandpreference.h"
#ifdef Q_OS_WIN
#include "clientmutex.h"
#endif

#include <QApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <QTranslator>

static const char remoteIpKey[] = "connection/remoteIp";

static void installIfLoaded(QTranslator &translator, bool loaded, const char *note)
{
    if (!loaded)
        return;
    qDebug("%s", note);
    QCoreApplication::installTranslator(&translator);
}

// Asks the operator where the unit is. Returns false when the dialog was
// not accepted, in which case start-up ends quietly.
static bool askRemoteIp(QString &remoteIp)
{
    SelectRemoteHostDlg dialog(nullptr);
    dialog.adjustSize();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    remoteIp = dialog.selectedRemoteIp();
    return true;
}

// Takes the unit's address from the settings or, when they name none, from
// the operator. Returns false when start-up must end without a window.
static bool findRemoteIp(const QSettings &settings, QString &remoteIp)
{
    if (!settings.contains(QLatin1String(remoteIpKey)))
        return askRemoteIp(remoteIp);

    // A value the INI reader splits into a list (an unquoted comma) also
    // converts to an empty string and is refused here.
    remoteIp = settings.value(QLatin1String(remoteIpKey), QVariant()).toString();
    if (remoteIp.isEmpty()) {
        QMessageBox::critical(nullptr, QStringLiteral("Ошибка VelmoScreen.ini"),
                              QStringLiteral("IP-адрес подключения указан некорректно"),
                              QMessageBox::Ok, QMessageBox::NoButton);
        return false;
    }
    return true;
}

// The screens draw nothing with OpenGL, yet on X11 the toolkit sets up GLX at
// start-up, which loads the system's GL driver: under a software renderer that
// alone more than doubles the client's memory and slows its start. A setting
// made by the user still wins.
static void skipOpenGlSetUp()
{
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

int main(int argc, char **argv)
{
#ifdef Q_OS_WIN
    holdClientMutex();
#endif
    skipOpenGlSetUp();
    preferXWayland();
    QApplication app(argc, argv);

    ScreenFonts::install();

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString translationsPath = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString translationsPath = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    QTranslator qtTranslator;
    installIfLoaded(qtTranslator,
                    qtTranslator.load(QLocale::system(), QStringLiteral("qt"), QStringLiteral("_"),
                                      translationsPath, QString()),
                    "qtTranslator ok");
    QTranslator qtBaseTranslator;
    installIfLoaded(qtBaseTranslator,
                    qtBaseTranslator.load(QLatin1String("qtbase_") + QLocale::system().name(),
                                          translationsPath, QString(), QString()),
                    "qtBaseTranslator ok");

    DebugCommunicator link(nullptr);
    MainWindow mainWindow(nullptr);

    // Beside the executable, not in the working directory; only ever read.
    const QSettings settings(QCoreApplication::applicationDirPath() + QLatin1String("/VelmoScreen.ini"),
                             QSettings::IniFormat);
    QString remoteIp;
    if (!findRemoteIp(settings, remoteIp))
        return 0;

    QObject::connect(&link, &DebugCommunicator::autopilotScreenReceived,
                     mainWindow.screenForm(), &VelmoScreenForm::setAutopilotScreen);
    QObject::connect(&link, &DebugCommunicator::msgScreenReceived,
                     mainWindow.screenForm(), &VelmoScreenForm::setMsgScreen);
    QObject::connect(mainWindow.screenForm(), &VelmoScreenForm::keyboardKeyPress,
                     &link, &DebugCommunicator::sendKbdPress);

    link.start(remoteIp);
    mainWindow.show();

    return app.exec();
}
