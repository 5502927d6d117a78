#ifndef DRIVESCRIPT_H
#define DRIVESCRIPT_H

#include "screencondition.h"

#include <QString>
#include <QStringList>
#include <QVector>

// A script of keys to press and screens to expect, one step a line:
//
//     key NAME...
//     wait MS
//     expect [autopilot|msg] "TEXT" | /REGEX/ | blinking "TEXT" [within MS]
//     expect msg shown|hidden|alarm [within MS]
//     expect-not ...            (any form of expect)
//     capture NAME
//
// TEXT is a JSON string. Blank lines and lines starting with '#' are skipped.
class DriveScript
{
public:
    struct Step
    {
        enum class Kind { Key, Wait, Expect, Capture };

        Kind kind = Kind::Wait;
        int line = 0;
        // The line as written, to name the step in reports.
        QString source;
        QStringList keys;
        // The wait, or how long an expectation waits; -1 for the default.
        int ms = -1;
        ScreenCondition condition;
        // expect-not: waits until the condition no longer holds.
        bool negated = false;
        QString captureName;
    };

    static constexpr int maxMs = 24 * 60 * 60 * 1000;
    static constexpr qint64 maxLineBytes = 64 * 1024;

    // On failure the message names the file and line: "path:LINE: problem".
    bool load(const QString &fileName, QString *error);
    bool parse(const QByteArray &text, QString *error);

    QString fileName() const { return path; }
    const QVector<Step> &steps() const { return scriptSteps; }

private:
    QString path;
    QVector<Step> scriptSteps;
};

#endif // DRIVESCRIPT_H
