#ifndef JUNITREPORT_H
#define JUNITREPORT_H

#include "scriptresult.h"

#include <QString>
#include <QVector>

// A JUnit XML report as CI servers read it: one testsuite, one testcase per
// script, a failure with the step, its line and the screens, an error for a
// connection lost and a skipped script for one never run.
namespace JUnitReport {

bool write(const QString &fileName, const QVector<ScriptResult> &results, double seconds, QString *error);

} // namespace JUnitReport

#endif // JUNITREPORT_H
