#include "settings/settingsdialog.h"
#include "ui_settingsdialog.h"

#include "core/inivalue.h"
#include "core/portlist.h"
#include "core/product.h"
#include "core/settingsfile.h"
#include "core/trace.h"

#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QSettings>
#include <QStandardPaths>

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
    QSettings ini(path, QSettings::IniFormat);
    TRACE << path;
    ini.beginGroup(QLatin1String(product::iniGroup));

    Settings &s = currentSettings;

    s.name = ini.value(QStringLiteral("Port"), QStringLiteral("Com3")).toString();
    selectByText(ui->serialPortInfoListBox, s.name);

    s.stringBaudRate = ini.value(QStringLiteral("BaudRate"), QStringLiteral("9600")).toString();
    s.baudRate = inivalue::value(s.stringBaudRate, inivalue::baudRates());
    selectByText(ui->baudRateBox, s.stringBaudRate);

    s.stringDataBits = ini.value(QStringLiteral("DataBits"), QStringLiteral("8")).toString();
    s.dataBits = QSerialPort::DataBits(inivalue::value(s.stringDataBits, inivalue::dataBits()));
    selectByText(ui->dataBitsBox, s.stringDataBits);

    s.stringParity = ini.value(QStringLiteral("Parity"), QStringLiteral("N")).toString();
    s.parity = QSerialPort::Parity(inivalue::value(s.stringParity, inivalue::parities()));
    selectByText(ui->parityBox, s.stringParity);

    s.stringStopBits = ini.value(QStringLiteral("StopBits"), QStringLiteral("1")).toString();
    s.stopBits = QSerialPort::StopBits(inivalue::value(s.stringStopBits, inivalue::stopBits()));
    selectByText(ui->stopBitsBox, s.stringStopBits);

    s.stringFlowControl = ini.value(QStringLiteral("FlowControl"), QStringLiteral("None")).toString();
    s.flowControl = QSerialPort::FlowControl(inivalue::value(s.stringFlowControl, inivalue::flowControls()));
    selectByText(ui->flowControlBox, s.stringFlowControl);

    s.localEchoEnabled = inivalue::boolean(ini.value(QStringLiteral("LocalEcho"), QStringLiteral("true")).toString());
    qDebug() << s.localEchoEnabled;
    ui->localEchoCheckBox->setChecked(s.localEchoEnabled);

    ini.endGroup();
}

void SettingsDialog::saveINI()
{
    const QString path = settingsfile::path();
    TRACE << path;

    QSettings ini(path, QSettings::IniFormat);
    ini.beginGroup(QLatin1String(product::iniGroup));
    // The boxes' texts, never the numbers behind them: the file reads as the dialog showed it.
    ini.setValue(QStringLiteral("Port"), ui->serialPortInfoListBox->currentText());
    ini.setValue(QStringLiteral("BaudRate"), ui->baudRateBox->currentText());
    ini.setValue(QStringLiteral("DataBits"), ui->dataBitsBox->currentText());
    ini.setValue(QStringLiteral("Parity"), ui->parityBox->currentText());
    ini.setValue(QStringLiteral("StopBits"), ui->stopBitsBox->currentText());
    ini.setValue(QStringLiteral("FlowControl"), ui->flowControlBox->currentText());
    ini.setValue(QStringLiteral("LocalEcho"), ui->localEchoCheckBox->isChecked());
    ini.endGroup();
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
