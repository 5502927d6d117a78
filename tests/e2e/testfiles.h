#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QString>

QT_BEGIN_NAMESPACE
class QTemporaryDir;
QT_END_NAMESPACE

// Writes `text` to the file `name` in `dir` and returns the file's path; a
// failure is a warning, and the test then fails on the missing file.
QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &text);

// The file's bytes, or none when it cannot be read.
QByteArray readFile(const QString &fileName);

#endif // TESTFILES_H
