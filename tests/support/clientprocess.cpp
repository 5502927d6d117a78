#include "clientprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

ClientProcess::ClientProcess(const QString &executable, const QString &remoteIp)
    : executable(executable), settings("[connection]\nremoteIp=" + remoteIp.toLatin1() + "\n")
{
}

ClientProcess::~ClientProcess()
{
    stop();
}

QString ClientProcess::underTest(const QString &built)
{
    const QString chosen = qEnvironmentVariable("VELMO_TEST_CLIENT");
    return chosen.isEmpty() ? built : chosen;
}

bool ClientProcess::isWindowsExecutable(const QString &executable)
{
    return executable.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive);
}

// The client reads its settings beside its executable, so it runs from a
// copy; a Windows build also needs the DLLs and folders that came with it.
bool ClientProcess::copyExecutable(const QString &copy, QString *error) const
{
    if (!folder.isValid() || !QFile::copy(executable, copy)) {
        *error = QStringLiteral("cannot copy %1 to %2").arg(executable, copy);
        return false;
    }
    if (!isWindowsExecutable(executable))
        return true;
    const QFileInfo original(executable);
    const QStringList companions = original.dir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString &name : companions) {
        if (name == original.fileName() || name.compare(QLatin1String("VelmoScreen.ini"), Qt::CaseInsensitive) == 0)
            continue;
        if (!QFile::link(original.dir().absoluteFilePath(name), folder.filePath(name))) {
            *error = QStringLiteral("cannot link %1 beside the client").arg(name);
            return false;
        }
    }
    return true;
}

bool ClientProcess::start(const QProcessEnvironment &environment, QString *error)
{
    const QString copy = folder.filePath(QFileInfo(executable).fileName());
    if (!copyExecutable(copy, error))
        return false;
    QFile file(settingsPath());
    if (!settings.isNull() && (!file.open(QIODevice::WriteOnly) || file.write(settings) != settings.size())) {
        *error = QStringLiteral("cannot write ") + file.fileName();
        return false;
    }
    file.close();

    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory.isEmpty() ? folder.path() : workingDirectory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(folder.filePath(QStringLiteral("client.log")));
    launched = std::chrono::steady_clock::now();
    if (isWindowsExecutable(copy))
        process.start(QStringLiteral("wine"), { copy });
    else
        process.start(copy, QStringList());
    if (!process.waitForStarted(10000)) {
        *error = QStringLiteral("cannot start the client: ") + process.errorString();
        return false;
    }
    return true;
}

void ClientProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(10000);
}

QString ClientProcess::settingsPath() const
{
    return folder.filePath(QStringLiteral("VelmoScreen.ini"));
}

qint64 ClientProcess::peakRssKiB() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

qint64 ClientProcess::cpuTimeMs() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold blanks; the fields after it are numbered from 3.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const qint64 ticks = fields.at(11).toLongLong() + fields.at(12).toLongLong();
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
}

QByteArray ClientProcess::logTail(int bytes) const
{
    QFile log(folder.filePath(QStringLiteral("client.log")));
    if (!log.open(QIODevice::ReadOnly))
        return QByteArray();
    if (bytes >= 0 && log.size() > bytes)
        log.seek(log.size() - bytes);
    // A Windows program ends its lines of text with CR LF.
    QByteArray text = log.readAll();
    return isWindowsExecutable(executable) ? text.replace("\r\n", "\n") : text;
}
