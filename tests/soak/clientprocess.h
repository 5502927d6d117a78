#ifndef CLIENTPROCESS_H
#define CLIENTPROCESS_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <chrono>

// The real client executable, run from a folder of its own beside a settings
// file that points it at the given unit address, with its output kept in a
// log file there. Reads the process's memory and processor figures from /proc.
class ClientProcess
{
public:
    ClientProcess(const QString &executable, const QString &remoteIp);
    ~ClientProcess();

    bool start(const QProcessEnvironment &environment, QString *error);
    void stop();

    bool isRunning() const { return process.state() == QProcess::Running; }
    qint64 pid() const { return process.processId(); }
    // Peak resident set size (VmHWM), or -1 when it cannot be read.
    qint64 peakRssKiB() const;
    // Processor time used so far, user and system, or -1 when it cannot be read.
    qint64 cpuTimeMs() const;
    QByteArray logTail(int bytes = 4000) const;
    // The moment the process was launched, after the copying.
    std::chrono::steady_clock::time_point launchedAt() const { return launched; }

private:
    QString executable;
    QString remoteIp;
    QTemporaryDir folder;
    QProcess process;
    std::chrono::steady_clock::time_point launched;
};

#endif // CLIENTPROCESS_H
