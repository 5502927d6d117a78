#ifndef VELMOSCREENFORM_H
#define VELMOSCREENFORM_H

#include <QString>
#include <QWidget>

QT_BEGIN_NAMESPACE
class QKeyEvent;
class QTimer;
namespace Ui { class VelmoScreenForm; }
QT_END_NAMESPACE

class VelmoScreenForm : public QWidget
{
    Q_OBJECT

public:
    explicit VelmoScreenForm(QWidget *parent = nullptr);
    ~VelmoScreenForm() override;

    // Pure so that benchmarks and fuzzers can drive it with any phase;
    // the form passes its own blink phase.
    static QString applyBlinkMask(const QString &screen, const QString &mask, bool blinkOn);

signals:
    void keyboardKeyPress(QString key);

public slots:
    void setAutopilotScreen(QString screen, QString mask);
    void setMsgScreen(bool visible, QString screen, QString mask, bool isAlarm);

private slots:
    void blinkTimerTimeout();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void updateAutopilotScreen();
    void updateMsgScreen();

    Ui::VelmoScreenForm *ui;
    QTimer *blinkTimer;
    QString autopilotText;
    QString autopilotMask;
    QString msgText;
    QString msgMask;
    bool blinkOn;
};

#endif // VELMOSCREENFORM_H
