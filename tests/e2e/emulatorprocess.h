#ifndef EMULATORPROCESS_H
#define EMULATORPROCESS_H

#include <QByteArrayList>
#include <QProcess>
#include <QStringList>

// The real emulator executable, run for one test. Collects the lines it prints
// and kills it when it goes out of scope.
class EmulatorProcess
{
public:
    EmulatorProcess() = default;
    ~EmulatorProcess();
    EmulatorProcess(const EmulatorProcess &) = delete;
    EmulatorProcess &operator=(const EmulatorProcess &) = delete;

    static QString executable();

    // Returns once the emulator listens (true) or has given up (false).
    bool start(const QStringList &arguments);
    void stop();

    // Lines the clients sent, in order, as the emulator printed them.
    QByteArrayList receivedLines();
    QByteArray errorOutput();
    int connectionCount();

    QProcess process;

private:
    QByteArray output;
    QByteArray errors;
    void collect();
};

#endif // EMULATORPROCESS_H
