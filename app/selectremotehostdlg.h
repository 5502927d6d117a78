#ifndef SELECTREMOTEHOSTDLG_H
#define SELECTREMOTEHOSTDLG_H

#include <QDialog>
#include <QString>

QT_BEGIN_NAMESPACE
namespace Ui { class SelectRemoteHostDlg; }
QT_END_NAMESPACE

class SelectRemoteHostDlg : public QDialog
{
    Q_OBJECT

public:
    explicit SelectRemoteHostDlg(QWidget *parent = nullptr);
    ~SelectRemoteHostDlg() override;

    QString selectedRemoteIp() const;

private slots:
    void on_customIpRB_toggled(bool checked);

private:
    Ui::SelectRemoteHostDlg *ui;
};

#endif // SELECTREMOTEHOSTDLG_H
