#ifndef DEMOUNIT_H
#define DEMOUNIT_H

#include "unitscreens.h"

#include <QObject>
#include <QStringList>

QT_BEGIN_NAMESPACE
class QTimer;
QT_END_NAMESPACE

// A make-believe autopilot: three editable set points, a heading that follows
// the course while a run is on, a journal and alarms. One instance is shared by
// every connected client, as a real unit would be.
class DemoUnit : public QObject
{
    Q_OBJECT

public:
    enum Field { CourseField, SpeedField, RudderField, FieldCount };

    // A run stops with an overheat alarm after this long, so that every demo
    // run shows an alarm without anyone pressing a key.
    static constexpr int overheatAfterSeconds = 45;

    explicit DemoUnit(QObject *parent = nullptr);

    UnitScreens screens() const;
    void startClock();

public slots:
    void pressKey(const QString &key);
    // One second of the unit's life: the live heading moves and a run advances.
    void tick();

signals:
    void screensChanged();

private:
    enum class Message { None, Journal, Alarm };

    bool applyKey(const QString &key);
    void editSelectedField(int digit);
    void moveSelection(int step);
    void toggleRun();
    void raiseAlarm(const QString &text);
    bool acknowledgeAlarm();
    bool closeMessage();
    void steerTowardsCourse();
    int shownHeading() const;

    QStringList autopilotRows() const;
    QStringList autopilotMaskRows() const;
    QStringList msgRows() const;
    QStringList msgMaskRows() const;

    QTimer *clock;
    int values[FieldCount];
    Field selected = CourseField;
    int heading;
    int ticks = 0;
    bool running = false;
    int runSeconds = 0;
    int runCount = 0;
    int alarmCount = 0;
    Message message = Message::None;
    QString alarmText;
    bool alarmAcknowledged = false;
};

#endif // DEMOUNIT_H
