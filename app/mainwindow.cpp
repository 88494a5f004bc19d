#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/panedocument.h"
#include "app/panefeed.h"
#include "app/roadevents.h"
#include "app/serialline.h"
#include "app/statusfeed.h"

#include "core/logpane.h"
#include "core/netinfo.h"
#include "core/trace.h"
#include "core/product.h"
#include "core/version.h"
#include "net/mytcpserver.h"
#include "net/myudprx.h"
#include "settings/settingsdialog.h"

#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSysInfo>
#include <QTextStream>

MainWindow::MainWindow(QWidget *parent, StatusBoard *status)
    : QMainWindow(parent)
{
    ui = new Ui::MainWindow;
    ui->setupUi(this);
    panedocument::prepare(ui->plainTextEditTCP);
    panedocument::prepare(ui->plainTextEditSerial);
    road = new RoadEvents(this);
    panes = new PaneFeed(ui->plainTextEditTCP, ui->plainTextEditSerial, this);
    panes->listen(road);

    titleBase = QStringLiteral("%1-%2 UDPRX@%3/")
                    .arg(QLatin1String(product::appName))
                    .arg(QLatin1String(version::number))
                    .arg(udpRxPort);
    titleBase += QStringLiteral("IP@") + getLocalNetInfo(netinfo::Ipv4Addresses).first();
    setWindowTitle(titleBase);

    server = new MyServer(this);
    udpRx = new MyUdpRX(udpRxPort, this);
    connect(udpRx, SIGNAL(sigSendUDPdata(QString)), this, SLOT(slotUdpRX(QString)));
    connect(server, SIGNAL(sigSendTCPdata(QString)), this, SLOT(slotTcpRX(QString)));
    connect(this, SIGNAL(sigWriteTCPdata(QByteArray)), server, SLOT(slotWriteTCP(QByteArray)));
    if (status)
        new StatusFeed(status, this, road, server, udpRx);

    serial = new QSerialPort(this);
    line = new SerialLine(serial, road, this);
    connect(line, &SerialLine::unannouncedData, this, &MainWindow::readSerialData, Qt::QueuedConnection);
    // May show the no-port box, which runs an event loop: every slot copes with settings still null.
    settings = new SettingsDialog;
    connect(ui->actionConfigSerial, SIGNAL(triggered(bool)), settings, SLOT(show()));
    connect(serial, SIGNAL(error(QSerialPort::SerialPortError)), this,
            SLOT(handleSerialError(QSerialPort::SerialPortError)));
    connect(serial, SIGNAL(readyRead()), this, SLOT(readSerialData()));
    connect(settings, SIGNAL(sigSettingChange()), this, SLOT(slotSerialChange()));

    if (settings->portAvailable)
        openSerialPort();
}

MainWindow::~MainWindow()
{
    // The port closes with the window's children: nothing it reports may reach a half-destroyed window.
    serial->disconnect(this);
    // Top-level, so not a child: deleted here, after the event loop, which may have ended with it open.
    delete settings;
    settings = nullptr;
    delete ui;
    ui = nullptr;
}

QStringList MainWindow::getLocalNetInfo(int kind) { return netinfo::localNetInfo(netinfo::systemInterfaces(), kind); }

void MainWindow::logTcpPane(const QString &tag, const QString &prefix, const QString &text)
{
    emit road->paneEntry(RoadEvents::TcpPane, logpane::entry(tag, prefix, text), true);
    emit road->trafficLine(RoadEvents::TcpPane, logpane::plainLine(prefix, text));
}

void MainWindow::logSerialPane(const QString &tag, const QString &prefix, const QString &text)
{
    emit road->paneEntry(RoadEvents::SerialPane, logpane::entry(tag, prefix, text), true);
    emit road->trafficLine(RoadEvents::SerialPane, logpane::plainLine(prefix, text));
}

void MainWindow::logSerialPlain(const QString &text)
{
    emit road->paneEntry(RoadEvents::SerialPane, text, false);
    emit road->trafficLine(RoadEvents::SerialPane, text);
}

void MainWindow::stopPanes() { road->disconnect(panes); }

void MainWindow::limitPaneLines(int lines)
{
    ui->plainTextEditTCP->setMaximumBlockCount(lines);
    ui->plainTextEditSerial->setMaximumBlockCount(lines);
}

void MainWindow::on_pushButtonClearSerial_clicked() { panes->clear(PaneFeed::SerialPane); }

void MainWindow::on_pushButtonClearTCP_clicked() { panes->clear(PaneFeed::TcpPane); }

void MainWindow::on_actionAbout_triggered()
{
    const QString ip = getLocalNetInfo(netinfo::Ipv4Addresses).first();
    const QString path = QStringLiteral(":/html/About_en_US.html");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        TRACE << "About Not Found:" << path;
        return;
    }
    QTextStream stream(&file);
    stream.setAutoDetectUnicode(true);
    QString text = stream.readAll();
    text += QStringLiteral("<br>OS: ") + QSysInfo::prettyProductName();
    text += QStringLiteral("<br>IP: ") + ip;
    text += QStringLiteral("<br>Port: ") + ui->labelSerialPort->text();
    const QString title =
        QLatin1String(product::appName) + QStringLiteral(" ReleaseBuild-%1").arg(QLatin1String(__DATE__));
    QMessageBox::about(this, title, text);
}
