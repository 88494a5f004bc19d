#include "settingsdialog.h"
#include "ui_settingsdialog.h"

#include <QIntValidator>

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent)
{
    ui = new Ui::SettingsDialog;
    ui->setupUi(this);
    intValidator = new QIntValidator(0, 4000000, this);
}

SettingsDialog::~SettingsDialog()
{
    delete ui;
}

Settings SettingsDialog::settings() const { return currentSettings; }
void SettingsDialog::fillPortsInfo() {}
void SettingsDialog::fillPortsParameters() {}
void SettingsDialog::readINI() {}
void SettingsDialog::saveINI() {}
QString SettingsDialog::iniPath() { return QString(); }
void SettingsDialog::showPortInfo(int) {}
void SettingsDialog::apply() {}
void SettingsDialog::checkCustomBaudRatePolicy(int) {}
void SettingsDialog::checkCustomDevicePathPolicy(int) {}
