#include "scriptplayer.h"

#include <QTimer>

ScriptPlayer::ScriptPlayer(const UnitScript &script, QObject *parent)
    : QObject(parent)
    , steps(script.steps())
    , timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &ScriptPlayer::playStep);
}

void ScriptPlayer::start()
{
    next = 0;
    scheduleNext();
}

void ScriptPlayer::playStep()
{
    emit lineReady(steps.at(next).uiLine);
    ++next;
    scheduleNext();
}

void ScriptPlayer::scheduleNext()
{
    if (next < steps.size())
        timer->start(steps.at(next).delayMs);
    else
        emit finished();
}
