#ifndef SCRIPTFILE_H
#define SCRIPTFILE_H

#include <QByteArray>
#include <QString>
#include <QVector>

// The lines of a script file as the tools read them: a UTF-8 byte-order mark
// at the start is skipped, lines end in LF or CR LF, blank lines are skipped
// and each line keeps its number in the file for messages.
class ScriptFile
{
public:
    enum class Comments { Skip, Keep };

    struct Line
    {
        int number = 0;
        // Without leading blanks and without the line end.
        QByteArray text;
        // "\n" or "\r\n" as written; empty on a last line without one.
        QByteArray end;

        bool isComment() const { return text.startsWith('#'); }
    };

    // Fails only on a line longer than maxLineBytes, whose number it leaves
    // in *overlongLine.
    bool parse(const QByteArray &bytes, qint64 maxLineBytes, Comments comments, int *overlongLine);

    const QVector<Line> &lines() const { return fileLines; }

    // Reads a script of one step a line, comments skipped: readStep(line,
    // &step, &problem) turns a line into a step or says what is wrong with it.
    // On failure leaves the number of the line at fault and the problem.
    template<typename Step, typename ReadStep>
    static bool readSteps(const QByteArray &bytes, qint64 maxLineBytes, ReadStep readStep, QVector<Step> *steps,
                          int *faultyLine, QString *problem)
    {
        ScriptFile file;
        if (!file.parse(bytes, maxLineBytes, Comments::Skip, faultyLine)) {
            *problem = QStringLiteral("longer than %1 bytes").arg(maxLineBytes);
            return false;
        }
        QVector<Step> read;
        for (const Line &line : file.lines()) {
            Step step;
            if (!readStep(line, &step, problem)) {
                *faultyLine = line.number;
                return false;
            }
            read.append(step);
        }
        *steps = read;
        return true;
    }

private:
    QVector<Line> fileLines;
};

#endif // SCRIPTFILE_H
