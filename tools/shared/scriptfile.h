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

private:
    QVector<Line> fileLines;
};

#endif // SCRIPTFILE_H
