#ifndef DRIVEOPTIONS_H
#define DRIVEOPTIONS_H

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The drive's command line, checked.
class DriveOptions
{
public:
    enum class Outcome { Run, ConvertRecording, ShowHelp, Error };

    // `arguments` includes the program name, as QCoreApplication::arguments().
    Outcome parse(const QStringList &arguments);

    QString helpText() const { return help; }
    QString errorText() const { return error; }

    QHostAddress address;
    quint16 port = 0;
    int timeoutMs = 5000;
    QString junitFile;
    QString capturesFolder;
    QStringList scriptFiles;
    QString recordingFile;

private:
    Outcome fail(const QString &message);

    QString help;
    QString error;
};

#endif // DRIVEOPTIONS_H
