#include "settings/settingsdialog.h"
#include "ui_settingsdialog.h"

#include "core/inivalue.h"
#include "core/portlist.h"
#include "core/settingsfile.h"
#include "core/trace.h"

#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>
#include <QSerialPortInfo>

namespace {

const char portsOverride[] = "TOLVANE_SERIAL_PORTS";

// TOLVANE_SERIAL_PORTS, when set, stands in for the system's enumeration (empty: no port at all).
QList<portlist::Port> listedPorts()
{
    if (qEnvironmentVariableIsSet(portsOverride))
        return portlist::fromOverride(qEnvironmentVariable(portsOverride));

    QList<portlist::Port> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        portlist::Port port;
        port.name = info.portName();
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        port.systemLocation = info.systemLocation();
        port.vendorIdentifier = info.vendorIdentifier();
        port.productIdentifier = info.productIdentifier();
        ports.append(port);
    }
    return ports;
}

void fillBox(QComboBox *box, const QVector<inivalue::Row> &rows)
{
    for (const inivalue::Row &row : rows)
        box->addItem(row.text, row.value);
}

// Stored texts are matched exactly: "even" is not "Even".
void selectByText(QComboBox *box, const QString &text)
{
    box->setCurrentIndex(box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

} // namespace

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent)
{
    ui = new Ui::SettingsDialog;
    ui->setupUi(this);

    // Dropping the "?" button must not drop the icon with it.
    const QIcon icon = windowIcon();
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setWindowIcon(icon);

    intValidator = new QIntValidator(0, 4000000, this);
    ui->baudRateBox->setInsertPolicy(QComboBox::NoInsert);

    connect(ui->applyButton, &QPushButton::clicked, this, &SettingsDialog::apply);
    connect(ui->serialPortInfoListBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SettingsDialog::showPortInfo);
    connect(ui->baudRateBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SettingsDialog::checkCustomBaudRatePolicy);
    connect(ui->serialPortInfoListBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SettingsDialog::checkCustomDevicePathPolicy);

    fillPortsParameters();
    fillPortsInfo();
}

SettingsDialog::~SettingsDialog()
{
    delete ui;
    ui = nullptr;
}

Settings SettingsDialog::settings() const { return currentSettings; }

void SettingsDialog::fillPortsParameters()
{
    fillBox(ui->baudRateBox, inivalue::baudRates());
    ui->baudRateBox->setCurrentIndex(3);

    fillBox(ui->dataBitsBox, inivalue::dataBits());
    ui->dataBitsBox->setCurrentIndex(3);

    fillBox(ui->parityBox, inivalue::parities());
    fillBox(ui->stopBitsBox, inivalue::stopBits());
    fillBox(ui->flowControlBox, inivalue::flowControls());
}

void SettingsDialog::fillPortsInfo()
{
    ui->serialPortInfoListBox->clear();

    const QList<portlist::Port> ports = listedPorts();
    for (const portlist::Port &port : ports) {
        qDebug("MFG: %s, %d", qUtf8Printable(port.manufacturer),
               QString::compare(port.manufacturer, QLatin1String("FTDI")));
        ui->serialPortInfoListBox->addItem(port.name, portlist::itemData(port));
    }

    if (ports.isEmpty()) {
        // Modal: runs an event loop while the main window may still be under construction.
        QMessageBox::critical(nullptr, tr("Serial Port Not Available"),
                              tr("Connect USB/Serial cable and restart program!"));
        portAvailable = false;
    } else {
        portAvailable = true;
    }
}

void SettingsDialog::readINI()
{
    const QString path = settingsfile::path();
    TRACE << path;
    currentSettings = settingsFrom(settingsfile::read(path));
    const Settings &s = currentSettings;

    selectByText(ui->serialPortInfoListBox, s.name);
    selectByText(ui->baudRateBox, s.stringBaudRate);
    selectByText(ui->dataBitsBox, s.stringDataBits);
    selectByText(ui->parityBox, s.stringParity);
    selectByText(ui->stopBitsBox, s.stringStopBits);
    selectByText(ui->flowControlBox, s.stringFlowControl);
    qDebug() << s.localEchoEnabled;
    ui->localEchoCheckBox->setChecked(s.localEchoEnabled);
}

void SettingsDialog::saveINI()
{
    const QString path = settingsfile::path();
    TRACE << path;

    // The boxes' texts, never the numbers behind them: the file reads as the dialog showed it.
    settingsfile::Texts shown;
    shown.port = ui->serialPortInfoListBox->currentText();
    shown.baudRate = ui->baudRateBox->currentText();
    shown.dataBits = ui->dataBitsBox->currentText();
    shown.parity = ui->parityBox->currentText();
    shown.stopBits = ui->stopBitsBox->currentText();
    shown.flowControl = ui->flowControlBox->currentText();
    shown.localEcho = ui->localEchoCheckBox->isChecked();
    settingsfile::write(path, shown);
}

void SettingsDialog::showPortInfo(int idx)
{
    if (idx == -1)
        return;

    const QStringList list = ui->serialPortInfoListBox->itemData(idx).toStringList();
    const auto entry = [&list](int i) { return i < list.count() ? list.at(i) : QStringLiteral("N/A"); };
    ui->descriptionLabel->setText(tr("Description: %1").arg(entry(1)));
    ui->manufacturerLabel->setText(tr("Manufacturer: %1").arg(entry(2)));
    ui->serialNumberLabel->setText(tr("Serial number: %1").arg(entry(3)));
    ui->locationLabel->setText(tr("Location: %1").arg(entry(4)));
    ui->vidLabel->setText(tr("Vendor Identifier: %1").arg(entry(5)));
    ui->pidLabel->setText(tr("Product Identifier: %1").arg(entry(6)));
}

void SettingsDialog::apply()
{
    saveINI();
    hide();
    emit sigSettingChange();
}

void SettingsDialog::checkCustomBaudRatePolicy(int idx)
{
    // Rows without a value (or no row at all) mean the rate is typed by hand.
    const bool isCustomBaudRate = !ui->baudRateBox->itemData(idx).isValid();
    ui->baudRateBox->setEditable(isCustomBaudRate);
    if (isCustomBaudRate) {
        ui->baudRateBox->clearEditText();
        ui->baudRateBox->lineEdit()->setValidator(intValidator);
    }
}

void SettingsDialog::checkCustomDevicePathPolicy(int idx)
{
    const bool isCustomPath = !ui->serialPortInfoListBox->itemData(idx).isValid();
    ui->serialPortInfoListBox->setEditable(isCustomPath);
    if (isCustomPath)
        ui->serialPortInfoListBox->clearEditText();
}
