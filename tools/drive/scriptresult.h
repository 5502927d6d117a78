#ifndef SCRIPTRESULT_H
#define SCRIPTRESULT_H

#include <QString>

// How one script ended, for the report.
struct ScriptResult
{
    enum class Outcome { Passed, Failed, Error, NotRun };

    QString path;
    Outcome outcome = Outcome::NotRun;
    double seconds = 0;
    int line = 0;
    // The step that failed, as written.
    QString step;
    QString problem;
    // Both screens as they stood at the failure.
    QString screens;
};

#endif // SCRIPTRESULT_H
