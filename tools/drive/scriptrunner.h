#ifndef SCRIPTRUNNER_H
#define SCRIPTRUNNER_H

#include "drivescript.h"

#include <QObject>
#include <QString>

QT_BEGIN_NAMESPACE
class QTimer;
QT_END_NAMESPACE

class DebugCommunicator;
class ScreenState;

// Runs the steps of one script on a connection that is up, one after the
// other. An expectation is judged at once and then again after each "UI"
// line, until it is met or its time is over; the first one not met ends
// the script.
class ScriptRunner : public QObject
{
    Q_OBJECT

public:
    struct Failure
    {
        int line = 0;
        QString step;
        QString problem;
    };

    ScriptRunner(const DriveScript &script, DebugCommunicator *link, ScreenState *state, int defaultTimeoutMs,
                 const QString &capturesFolder, QObject *parent = nullptr);

    void start();
    // Stops at the current step; finished() is not emitted.
    void abort();
    int currentLine() const;

signals:
    // `failure` is null when every step passed.
    void finished(const ScriptRunner::Failure *failure);
    void keysSent();

private:
    void runNextStep();
    void runStep(const DriveScript::Step &step);
    bool expectationMet() const;
    void endExpectation();
    // After each "UI" line.
    void judge();
    void expectationTimedOut();
    void fail(const QString &problem);

    const DriveScript script;
    DebugCommunicator *const link;
    ScreenState *const state;
    const int defaultTimeoutMs;
    const QString capturesFolder;
    QTimer *stepTimer;
    int next = 0;
    // The expectation waited for, or null.
    const DriveScript::Step *waitingFor = nullptr;
    bool aborted = false;
    Failure failure;
};

#endif // SCRIPTRUNNER_H
