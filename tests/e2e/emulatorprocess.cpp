#include "emulatorprocess.h"

#include <QDeadlineTimer>

namespace {

constexpr int startTimeoutMs = 10000;

} // namespace

EmulatorProcess::~EmulatorProcess()
{
    stop();
}

QString EmulatorProcess::executable()
{
    return QStringLiteral(VELMO_EMULATOR_PATH);
}

bool EmulatorProcess::start(const QStringList &arguments)
{
    output.clear();
    errors.clear();
    process.start(executable(), arguments);
    const QDeadlineTimer deadline(startTimeoutMs);
    while (!deadline.hasExpired() && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        if (errorOutput().contains("listening on "))
            return true;
    }
    collect();
    return false;
}

void EmulatorProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(startTimeoutMs);
    collect();
}

QByteArrayList EmulatorProcess::receivedLines()
{
    collect();
    QByteArrayList lines = output.split('\n');
    lines.removeLast(); // the unfinished tail, empty after a full line
    return lines;
}

QByteArray EmulatorProcess::errorOutput()
{
    collect();
    return errors;
}

int EmulatorProcess::connectionCount()
{
    return errorOutput().count(" connected\n");
}

void EmulatorProcess::collect()
{
    output += process.readAllStandardOutput();
    errors += process.readAllStandardError();
}
