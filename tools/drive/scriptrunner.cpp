#include "scriptrunner.h"

#include "debugcommunicator.h"
#include "screencapture.h"
#include "screenstate.h"

#include <QTimer>

ScriptRunner::ScriptRunner(const DriveScript &script, DebugCommunicator *link, ScreenState *state,
                           int defaultTimeoutMs, const QString &capturesFolder, QObject *parent)
    : QObject(parent)
    , script(script)
    , link(link)
    , state(state)
    , defaultTimeoutMs(defaultTimeoutMs)
    , capturesFolder(capturesFolder)
    , stepTimer(new QTimer(this))
{
    stepTimer->setSingleShot(true);
    // A coarse timer may end a wait up to 5 % early.
    stepTimer->setTimerType(Qt::PreciseTimer);
    connect(state, &ScreenState::changed, this, &ScriptRunner::judge);
}

void ScriptRunner::start()
{
    next = 0;
    runNextStep();
}

void ScriptRunner::abort()
{
    aborted = true;
    stepTimer->stop();
    waitingFor = nullptr;
}

int ScriptRunner::currentLine() const
{
    if (next == 0)
        return script.steps().isEmpty() ? 0 : script.steps().first().line;
    return script.steps().at(next - 1).line;
}

void ScriptRunner::runNextStep()
{
    // Steps that end at once run in this loop rather than recursively, so a
    // long run of keys does not deepen the stack.
    while (!aborted && !waitingFor && !stepTimer->isActive()) {
        if (next == script.steps().size()) {
            emit finished(nullptr);
            return;
        }
        runStep(script.steps().at(next++));
    }
}

void ScriptRunner::runStep(const DriveScript::Step &step)
{
    using Kind = DriveScript::Step::Kind;
    switch (step.kind) {
    case Kind::Key:
        for (const QString &key : step.keys)
            link->sendKbdPress(key);
        emit keysSent();
        break;
    case Kind::Wait:
        stepTimer->disconnect();
        connect(stepTimer, &QTimer::timeout, this, &ScriptRunner::runNextStep);
        stepTimer->start(step.ms);
        break;
    case Kind::Expect:
        waitingFor = &step;
        stepTimer->disconnect();
        connect(stepTimer, &QTimer::timeout, this, &ScriptRunner::expectationTimedOut);
        stepTimer->start(step.ms >= 0 ? step.ms : defaultTimeoutMs);
        if (expectationMet())
            endExpectation();
        break;
    case Kind::Capture: {
        QString error;
        if (!ScreenCapture::write(state->screens(), capturesFolder, step.captureName, &error))
            fail(error);
        break;
    }
    }
}

bool ScriptRunner::expectationMet() const
{
    return waitingFor && state->hasScreens() && waitingFor->condition.holds(state->screens()) != waitingFor->negated;
}

void ScriptRunner::endExpectation()
{
    waitingFor = nullptr;
    stepTimer->stop();
}

void ScriptRunner::judge()
{
    if (!expectationMet())
        return;
    endExpectation();
    runNextStep();
}

void ScriptRunner::expectationTimedOut()
{
    const int ms = waitingFor->ms >= 0 ? waitingFor->ms : defaultTimeoutMs;
    const QString problem = !state->hasScreens() ? QStringLiteral("no screen from the unit within %1 ms")
        : waitingFor->negated                    ? QStringLiteral("still so after %1 ms")
                                                 : QStringLiteral("not so within %1 ms");
    fail(problem.arg(ms));
}

void ScriptRunner::fail(const QString &problem)
{
    const DriveScript::Step &step = script.steps().at(next - 1);
    failure = { step.line, step.source, problem };
    abort();
    emit finished(&failure);
}
