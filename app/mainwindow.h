#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>

class VelmoScreenForm;

QT_BEGIN_NAMESPACE
namespace Ui { class MainWindow; }
QT_END_NAMESPACE

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    VelmoScreenForm *screenForm() const;

private:
    Ui::MainWindow *ui;
};

#endif // MAINWINDOW_H
