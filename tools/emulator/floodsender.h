#ifndef FLOODSENDER_H
#define FLOODSENDER_H

#include "unitscreens.h"

#include <QObject>

QT_BEGIN_NAMESPACE
class QIODevice;
QT_END_NAMESPACE

// Writes `count` numbered screens and then a closing "FLOOD DONE" screen to a
// device as fast as it drains them. At most about `highWaterBytes` wait in the
// device's write buffer at any time, whatever the count.
class FloodSender : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxCount = 999999999;
    static constexpr qint64 highWaterBytes = 64 * 1024;

    FloodSender(QIODevice *device, int count, QObject *parent = nullptr);

    void start();

    // Screen `index` (1 to count) of a flood; the same index always gives the
    // same screen, so runs can be compared byte for byte.
    static UnitScreens floodScreen(int index);
    static UnitScreens doneScreen(int count);

signals:
    void finished();

private:
    void writeMore();

    QIODevice *device;
    const int count;
    int next = 1;
    bool done = false;
};

#endif // FLOODSENDER_H
