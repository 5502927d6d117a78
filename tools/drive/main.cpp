#include "driveoptions.h"
#include "drivescript.h"
#include "drivesession.h"
#include "recordingconverter.h"
#include "screenfonts.h"

#include <QApplication>
#include <QVector>

#include <cstdio>

namespace {

// The pictures are drawn without a display, so that the drive runs on a CI
// machine or over SSH; a platform the user chose still wins. Windows always
// has a desktop to draw on.
void drawOffscreen()
{
#ifndef Q_OS_WIN
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
}

int fail(const QString &message)
{
    std::fprintf(stderr, "velmo-drive: %s\n", qPrintable(message));
    return DriveSession::BadInput;
}

// Every script is read and checked before anything is sent.
bool loadScripts(const QStringList &fileNames, QVector<DriveScript> *scripts, QString *error)
{
    for (const QString &fileName : fileNames) {
        DriveScript script;
        if (!script.load(fileName, error))
            return false;
        scripts->append(script);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    drawOffscreen();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmo-drive"));

    DriveOptions options;
    switch (options.parse(QCoreApplication::arguments())) {
    case DriveOptions::Outcome::ShowHelp:
        std::fputs(qPrintable(options.helpText()), stdout);
        return 0;
    case DriveOptions::Outcome::Error:
        return fail(options.errorText() + QStringLiteral(" (see --help)"));
    case DriveOptions::Outcome::ConvertRecording: {
        QString script;
        QString error;
        if (!RecordingConverter::convert(options.recordingFile, &script, &error))
            return fail(error);
        std::fputs(script.toUtf8().constData(), stdout);
        return 0;
    }
    case DriveOptions::Outcome::Run:
        break;
    }

    QVector<DriveScript> scripts;
    QString error;
    if (!loadScripts(options.scriptFiles, &scripts, &error))
        return fail(error);

    ScreenFonts::install();
    DriveSession session({ options.address, options.port, options.timeoutMs, options.junitFile,
                           options.capturesFolder },
                         scripts);
    session.start();
    return app.exec();
}
