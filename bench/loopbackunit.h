#ifndef LOOPBACKUNIT_H
#define LOOPBACKUNIT_H

#include <QSemaphore>
#include <QString>
#include <QThread>

#include <functional>

QT_BEGIN_NAMESPACE
class QTcpSocket;
QT_END_NAMESPACE

// A unit on a thread of its own: listens on a loopback address at the unit
// port, takes the first connection and runs a job on it with the socket's
// blocking calls. The client side of a measurement thus keeps the GUI thread
// to itself, as in the real program.
class LoopbackUnit : public QThread
{
public:
    using Job = std::function<void(QTcpSocket &connection)>;

    LoopbackUnit(const QString &address, Job job);
    ~LoopbackUnit() override;

    // Starts the thread and returns once the unit listens (or failed to).
    bool startListening();

protected:
    void run() override;

private:
    QString address;
    Job job;
    QSemaphore ready;
    bool listening = false;
};

#endif // LOOPBACKUNIT_H
