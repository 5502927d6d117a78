#ifndef SCRIPTPLAYER_H
#define SCRIPTPLAYER_H

#include "unitscript.h"

#include <QObject>

QT_BEGIN_NAMESPACE
class QTimer;
QT_END_NAMESPACE

// Plays a script once, from its first step, with the script's delays.
class ScriptPlayer : public QObject
{
    Q_OBJECT

public:
    ScriptPlayer(const UnitScript &script, QObject *parent = nullptr);

    void start();

signals:
    void lineReady(const QByteArray &uiLine);
    void finished();

private:
    void playStep();
    void scheduleNext();

    const QVector<UnitScript::Step> steps;
    int next = 0;
    QTimer *timer;
};

#endif // SCRIPTPLAYER_H
