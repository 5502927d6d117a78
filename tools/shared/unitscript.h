#ifndef UNITSCRIPT_H
#define UNITSCRIPT_H

#include "scriptfile.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// A recorded sequence of screen updates. The text form has one step a line:
//
//     <delay-ms> <UI message JSON object>
//
// where the delay counts from the previous step (from the connection for the
// first one). Blank lines and lines starting with '#' are skipped. A recorded
// session may mark a step with the client it came from, "<delay-ms> @2 <json>";
// the mark does not change how the step is played. Everything after the space
// that ends the delay (or the mark) is the message, sent byte for byte with the
// line's own end, so that a recording plays back exactly what the unit sent.
class UnitScript
{
public:
    struct Step
    {
        int delayMs;
        QByteArray uiLine;
        // The recorded client the step came from, 1 without a mark.
        int client = 1;
    };

    static constexpr int maxDelayMs = 24 * 60 * 60 * 1000;
    // Room for the longest line the client takes, with a delay and a mark.
    static const qint64 maxLineBytes;

    // On failure returns false and leaves a message naming the line in *error.
    bool parse(const QByteArray &text, QString *error);
    bool load(const QString &fileName, QString *error);

    const QVector<Step> &steps() const { return scriptSteps; }

    // One line that is not a comment; on failure leaves the problem in *problem.
    static bool parseStep(const ScriptFile::Line &line, Step *step, QString *problem);

private:
    QVector<Step> scriptSteps;
};

#endif // UNITSCRIPT_H
