#ifndef DRIVESESSION_H
#define DRIVESESSION_H

#include "drivescript.h"
#include "scriptresult.h"
#include "scriptrunner.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QVector>

QT_BEGIN_NAMESPACE
class QTimer;
QT_END_NAMESPACE

class DebugCommunicator;
class ScreenState;

// One run: connects to the unit once, runs the scripts in order on that
// connection, prints a line per script and a summary, and ends the event loop
// with the exit status.
class DriveSession : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus { AllPassed = 0, SomeFailed = 1, BadInput = 2, ConnectionProblem = 3 };

    static constexpr int connectLimitMs = 5000;

    struct Settings
    {
        QHostAddress address;
        quint16 port = 0;
        int timeoutMs = 5000;
        QString junitFile;
        QString capturesFolder;
    };

    DriveSession(const Settings &settings, const QVector<DriveScript> &scripts, QObject *parent = nullptr);

    void start();

private:
    void retryConnecting(const QString &reason);
    void giveUpConnecting();
    void connectionEnded();
    void runNextScript();
    void scriptFinished(const ScriptRunner::Failure *failure);
    void passOnceKeysAreAcknowledged();
    void endScript();
    void reportFailure(ScriptResult &result, const QString &captureName);
    void endWithConnectionProblem(const QString &problem);
    void finish();
    QString unitName() const;

    const Settings settings;
    const QVector<DriveScript> scripts;
    DebugCommunicator *link;
    ScreenState *state;
    QTimer *connectDeadline;
    ScriptRunner *runner = nullptr;
    // The index in `results` of the script running.
    int current = -1;
    QVector<ScriptResult> results;
    QElapsedTimer total;
    QElapsedTimer scriptTime;
    QElapsedTimer sinceLastKey;
    QString lastConnectError;
    QString droppedKey;
    bool connectionUp = false;
    bool connectionProblem = false;
    bool finished = false;
};

#endif // DRIVESESSION_H
