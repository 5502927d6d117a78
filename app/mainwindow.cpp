#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QVersionNumber>

static const QVersionNumber programVersion(5);

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    // The window opens at the size the screen form asks for and must never
    // grow beyond it: extra room would only show empty dark space. Window
    // managers that ignore the limit (a fullscreen request, a maximise) get
    // that dark space around the form, which the layout keeps at its own
    // size in the middle rather than stretching its frames.
    adjustSize();
    setMaximumSize(width(), height());

    setWindowTitle(windowTitle() + QLatin1String(" v") + programVersion.toString());
}

MainWindow::~MainWindow()
{
    delete ui;
}

VelmoScreenForm *MainWindow::screenForm() const
{
    return ui->form;
}
