#ifndef FLOODSENDER_H
#define FLOODSENDER_H

#include "unitscreens.h"

#include <QObject>

class ClientSession;

// Sends `count` numbered screens and then a closing "FLOOD DONE" screen to a
// client as fast as it reads them: a new screen only while the client keeps
// up, so memory stays flat whatever the count.
class FloodSender : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxCount = 999999999;

    FloodSender(ClientSession *session, int count, QObject *parent = nullptr);

    void start();

    // Screen `index` (1 to count) of a flood; the same index always gives the
    // same screen, so runs can be compared byte for byte.
    static UnitScreens floodScreen(int index);
    static UnitScreens doneScreen(int count);

signals:
    void finished();

private:
    void writeMore();

    ClientSession *session;
    const int count;
    int next = 1;
    bool done = false;
};

#endif // FLOODSENDER_H
