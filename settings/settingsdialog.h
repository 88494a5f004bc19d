#pragma once

#include "settings/settings.h"

#include <QDialog>

QT_BEGIN_NAMESPACE
class QIntValidator;
namespace Ui {
class SettingsDialog;
}
QT_END_NAMESPACE

// The serial port and its parameters: lists the ports, loads and saves Tolvane.ini.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    Settings settings() const;
    void fillPortsInfo();
    void readINI();
    void saveINI();

    bool portAvailable = false;

signals:
    void sigSettingChange();

private slots:
    void showPortInfo(int idx);
    void apply();
    void checkCustomBaudRatePolicy(int idx);
    void checkCustomDevicePathPolicy(int idx);

private:
    void fillPortsParameters();

    Ui::SettingsDialog *ui = nullptr;
    Settings currentSettings;
    QIntValidator *intValidator = nullptr;
};
