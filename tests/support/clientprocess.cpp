#include "clientprocess.h"

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

bool ClientProcess::start(const QProcessEnvironment &environment, QString *error)
{
    // The client reads its settings beside its executable, so it runs from a copy.
    const QString copy = folder.filePath(QFileInfo(executable).fileName());
    if (!folder.isValid() || !QFile::copy(executable, copy)) {
        *error = QStringLiteral("cannot copy %1 to %2").arg(executable, copy);
        return false;
    }
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
    return log.readAll();
}
