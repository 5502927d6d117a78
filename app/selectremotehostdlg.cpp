#include "selectremotehostdlg.h"
#include "ui_selectremotehostdlg.h"

SelectRemoteHostDlg::SelectRemoteHostDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::SelectRemoteHostDlg)
{
    ui->setupUi(this);
}

SelectRemoteHostDlg::~SelectRemoteHostDlg()
{
    delete ui;
}

// The typed address is handed on exactly as it stands, even empty or with
// spaces: the operator asked for it, and the link simply keeps retrying.
QString SelectRemoteHostDlg::selectedRemoteIp() const
{
    if (ui->usbOtgUnitRB->isChecked())
        return QStringLiteral("10.0.11.1");
    if (ui->localHostRB->isChecked())
        return QStringLiteral("127.0.0.1");
    return ui->customIpLE->text();
}

void SelectRemoteHostDlg::on_customIpRB_toggled(bool checked)
{
    ui->customIpLE->setEnabled(checked);
}
