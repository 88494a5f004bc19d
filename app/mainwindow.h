#pragma once

#include "core/product.h"

#include <QMainWindow>
#include <QSerialPort>
#include <QStringList>

QT_BEGIN_NAMESPACE
class QPlainTextEdit;
namespace Ui {
class MainWindow;
}
QT_END_NAMESPACE

class MyServer;
class MyUdpRX;
class PaneFeed;
class RoadEvents;
class SerialLine;
class SettingsDialog;

// The hub: owns the server, the UDP listener, the serial port and the settings dialog, and wires them.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Kind 0: the usable IPv4 addresses; kind 1: their hardware addresses. Never empty.
    QStringList getLocalNetInfo(int kind);
    void broadcastKRUDP();

    // Pane writers: every traffic line the window shows goes through these, as the road's entries for
    // the panes. The entry is recorded at once and shown a moment later, from the event loop.
    void logTcpPane(const QString &tag, const QString &prefix, const QString &text);
    void logSerialPane(const QString &tag, const QString &prefix, const QString &text);
    void logSerialPlain(const QString &text);

    // What the traffic slots tell (entries, commands, replies); the panes listen unless stopped.
    RoadEvents *events() const { return road; }
    void stopPanes();

    // For the unattended mode, which opens the port by itself once its device is there: the port list
    // is looked at again first when the last look found no port (an open stops at once then).
    bool isSerialOpen() const;
    void openAppearedPort();

signals:
    void sigWriteTCPdata(QByteArray);

public slots:
    void slotUdpRX(QString record);
    void slotTcpRX(QString text);
    void openSerialPort();
    void closeSerialPort();
    void writeSerialData(const QByteArray &data);
    void readSerialData();
    void handleSerialError(QSerialPort::SerialPortError error);
    void slotSerialChange();

private slots:
    void on_actionAbout_triggered();
    void on_lineEditSerial_returnPressed();
    void on_pushButtonClearSerial_clicked();
    void on_pushButtonClearTCP_clicked();

private:
    int udpRxPort = product::udpRxPort;
    int udpTxPort = product::udpTxPort;
    QString titleBase;
    MyServer *server = nullptr;
    MyUdpRX *udpRx = nullptr;
    int udpReplyCount = 0;
    QString lastCommand;
    Ui::MainWindow *ui = nullptr;
    SettingsDialog *settings = nullptr;
    QSerialPort *serial = nullptr;
    RoadEvents *road = nullptr; // what the traffic slots tell; the panes and the line listen
    SerialLine *line = nullptr;
    PaneFeed *panes = nullptr;
};
