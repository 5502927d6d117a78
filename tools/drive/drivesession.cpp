#include "drivesession.h"

#include "debugcommunicator.h"
#include "endpoint.h"
#include "junitreport.h"
#include "screencapture.h"
#include "screenstate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int retryIntervalMs = 250;
constexpr int acknowledgementPollMs = 10;

void print(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
}

} // namespace

DriveSession::DriveSession(const Settings &settings, const QVector<DriveScript> &scripts, QObject *parent)
    : QObject(parent)
    , settings(settings)
    , scripts(scripts)
    , link(new DebugCommunicator(this))
    , state(new ScreenState(this))
    , connectDeadline(new QTimer(this))
{
    for (const DriveScript &script : scripts) {
        ScriptResult result;
        result.path = script.fileName();
        results.append(result);
    }
    state->follow(link);
    connectDeadline->setSingleShot(true);
    // A coarse timer may give up to 5 % early.
    connectDeadline->setTimerType(Qt::PreciseTimer);
    connect(connectDeadline, &QTimer::timeout, this, &DriveSession::giveUpConnecting);
    connect(link, &DebugCommunicator::connectionFailed, this, &DriveSession::retryConnecting);
    connect(link, &DebugCommunicator::connected, this, [this] {
        connectDeadline->stop();
        connectionUp = true;
        runNextScript();
    });
    connect(link, &DebugCommunicator::keyDropped, this, [this](const QString &key) { droppedKey = key; });
    // The key that made the link drop the connection is named just after the
    // connection ends, so the end is looked at once that has happened.
    connect(link, &DebugCommunicator::disconnected, this, [this] {
        QTimer::singleShot(0, this, &DriveSession::connectionEnded);
    });
}

void DriveSession::start()
{
    total.start();
    connectDeadline->start(connectLimitMs);
    link->start(settings.address.toString(), settings.port);
}

QString DriveSession::unitName() const
{
    return Endpoint::name(settings.address, settings.port);
}

// The link's own timer tries again only every few seconds; a unit that is
// starting up is tried more often within the limit.
void DriveSession::retryConnecting(const QString &reason)
{
    if (connectionUp || finished)
        return;
    lastConnectError = reason;
    QTimer::singleShot(retryIntervalMs, link, &DebugCommunicator::checkConnection);
}

void DriveSession::giveUpConnecting()
{
    QString problem = QStringLiteral("the unit at %1 was not reached within %2 s")
                          .arg(unitName())
                          .arg(connectLimitMs / 1000);
    if (!lastConnectError.isEmpty())
        problem += QStringLiteral(" (%1)").arg(lastConnectError);
    for (ScriptResult &result : results)
        result.problem = QStringLiteral("not run: ") + problem;
    endWithConnectionProblem(problem);
}

void DriveSession::connectionEnded()
{
    if (finished || !connectionUp)
        return;
    connectionUp = false;
    const QString problem = droppedKey.isEmpty()
        ? QStringLiteral("the unit at %1 closed the connection").arg(unitName())
        : QStringLiteral("the unit did not acknowledge the key \"%1\" within %2 ms; the connection was dropped")
              .arg(droppedKey)
              .arg(DebugCommunicator::KeyDeliveryLimitMs);
    if (runner) {
        ScriptResult &result = results[current];
        result.outcome = ScriptResult::Outcome::Error;
        result.seconds = scriptTime.elapsed() / 1000.0;
        result.line = runner->currentLine();
        result.problem = problem;
        result.screens = ScreenCapture::describe(state->screens());
        runner->abort();
        print(QStringLiteral("ERROR %1:%2: %3\n").arg(result.path).arg(result.line).arg(problem));
    }
    for (ScriptResult &result : results) {
        if (result.outcome == ScriptResult::Outcome::NotRun)
            result.problem = QStringLiteral("not run: ") + problem;
    }
    endWithConnectionProblem(problem);
}

void DriveSession::runNextScript()
{
    if (finished)
        return;
    int index = 0;
    while (index < results.size() && results.at(index).outcome != ScriptResult::Outcome::NotRun)
        ++index;
    if (index == results.size()) {
        finish();
        return;
    }
    runner = new ScriptRunner(scripts.at(index), link, state, settings.timeoutMs, settings.capturesFolder, this);
    current = index;
    connect(runner, &ScriptRunner::finished, this, &DriveSession::scriptFinished);
    connect(runner, &ScriptRunner::keysSent, this, [this] { sinceLastKey.start(); });
    scriptTime.start();
    runner->start();
}

void DriveSession::scriptFinished(const ScriptRunner::Failure *failure)
{
    if (!failure) {
        passOnceKeysAreAcknowledged();
        return;
    }
    ScriptResult &result = results[current];
    result.seconds = scriptTime.elapsed() / 1000.0;
    result.outcome = ScriptResult::Outcome::Failed;
    result.line = failure->line;
    result.step = failure->step;
    result.problem = failure->problem;
    reportFailure(result, QStringLiteral("%1-%2").arg(QFileInfo(result.path).completeBaseName()).arg(result.line));
    endScript();
}

// A key just written may yet turn out not to have reached the unit, so a
// script passes once the unit has acknowledged every key, or the last key's
// limit is over.
void DriveSession::passOnceKeysAreAcknowledged()
{
    if (finished || !connectionUp)
        return;
    const bool limitOver = !sinceLastKey.isValid()
        || sinceLastKey.elapsed() > DebugCommunicator::KeyDeliveryLimitMs + retryIntervalMs;
    if (!limitOver && !link->keysAcknowledged()) {
        QTimer::singleShot(acknowledgementPollMs, this, &DriveSession::passOnceKeysAreAcknowledged);
        return;
    }
    ScriptResult &result = results[current];
    result.seconds = scriptTime.elapsed() / 1000.0;
    result.outcome = ScriptResult::Outcome::Passed;
    print(QStringLiteral("PASS %1 (%2)\n").arg(result.path, secondsText(result.seconds)));
    endScript();
}

void DriveSession::endScript()
{
    runner->deleteLater();
    runner = nullptr;
    // After the runner's own signal has returned.
    QTimer::singleShot(0, this, &DriveSession::runNextScript);
}

void DriveSession::reportFailure(ScriptResult &result, const QString &captureName)
{
    result.screens = ScreenCapture::describe(state->screens());
    QString captured;
    QString error;
    if (ScreenCapture::write(state->screens(), settings.capturesFolder, captureName, &error))
        captured = QStringLiteral("  written: %1.png, %1.txt\n").arg(QDir(settings.capturesFolder).filePath(captureName));
    else
        captured = QStringLiteral("  %1\n").arg(error);
    print(QStringLiteral("FAIL %1:%2: %3: %4\n%5%6")
              .arg(result.path)
              .arg(result.line)
              .arg(result.step, result.problem, result.screens, captured));
}

void DriveSession::endWithConnectionProblem(const QString &problem)
{
    std::fprintf(stderr, "velmo-drive: %s\n", qPrintable(problem));
    connectionProblem = true;
    finish();
}

void DriveSession::finish()
{
    using Outcome = ScriptResult::Outcome;
    finished = true;
    int passed = 0;
    int failed = 0;
    int notRun = 0;
    for (const ScriptResult &result : results) {
        passed += result.outcome == Outcome::Passed;
        failed += result.outcome == Outcome::Failed || result.outcome == Outcome::Error;
        notRun += result.outcome == Outcome::NotRun;
    }
    QString summary = QStringLiteral("%1 passed, %2 failed").arg(passed).arg(failed);
    if (notRun > 0)
        summary += QStringLiteral(", %1 not run").arg(notRun);
    print(summary + QLatin1Char('\n'));
    QString error;
    if (!settings.junitFile.isEmpty()
        && !JUnitReport::write(settings.junitFile, results, total.elapsed() / 1000.0, &error)) {
        std::fprintf(stderr, "velmo-drive: %s\n", qPrintable(error));
    }
    const int status = connectionProblem ? ConnectionProblem : failed > 0 ? SomeFailed : AllPassed;
    QCoreApplication::exit(status);
}
