#ifndef CLIENTPROCESS_H
#define CLIENTPROCESS_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <chrono>

// The real client executable, run from a folder of its own beside a settings
// file (by default one that points it at the given unit address), with its
// output kept in a log file there. Reads the process's memory and processor
// figures from /proc.
//
// VELMO_TEST_CLIENT, when set, names the client to run instead of the one
// built here: the same tests then check another build of it. A Windows
// executable (.exe) runs through Wine, with the files beside it (DLLs,
// plugins, translations) linked into its folder.
class ClientProcess
{
public:
    ClientProcess(const QString &executable, const QString &remoteIp);
    // `built`, or the client that VELMO_TEST_CLIENT names.
    static QString underTest(const QString &built);
    static bool isWindowsExecutable(const QString &executable);
    ~ClientProcess();
    ClientProcess(const ClientProcess &) = delete;
    ClientProcess &operator=(const ClientProcess &) = delete;

    // The whole settings file; null leaves the client without one.
    void setSettings(const QByteArray &contents) { settings = contents; }
    // By default the client runs in its own folder.
    void setWorkingDirectory(const QString &path) { workingDirectory = path; }
    QString settingsPath() const;

    bool start(const QProcessEnvironment &environment, QString *error);
    // Asks the client to end, then kills it if it does not.
    void stop();

    bool isRunning() const { return process.state() == QProcess::Running; }
    qint64 pid() const { return process.processId(); }
    bool waitForExit(int timeoutMs) { return process.waitForFinished(timeoutMs); }
    QProcess::ExitStatus exitStatus() const { return process.exitStatus(); }
    int exitCode() const { return process.exitCode(); }
    // Peak resident set size (VmHWM), or -1 when it cannot be read.
    qint64 peakRssKiB() const;
    // Processor time used so far, user and system, or -1 when it cannot be read.
    qint64 cpuTimeMs() const;
    QByteArray log() const { return logTail(-1); }
    // The last `bytes` of the log; all of it when negative.
    QByteArray logTail(int bytes = 4000) const;
    // The moment the process was launched, after the copying.
    std::chrono::steady_clock::time_point launchedAt() const { return launched; }

private:
    bool copyExecutable(const QString &copy, QString *error) const;

    QString executable;
    QByteArray settings;
    QString workingDirectory;
    QTemporaryDir folder;
    QProcess process;
    std::chrono::steady_clock::time_point launched;
};

#endif // CLIENTPROCESS_H
