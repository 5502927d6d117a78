#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qWarning("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

QByteArray readFile(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
