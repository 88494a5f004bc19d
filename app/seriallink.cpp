// The serial link: opening and closing the port, commands out, the projector's lines back.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "core/logpane.h"
#include "core/trace.h"
#include "settingsdialog.h"

void MainWindow::slotTcpRX(QString text)
{
    TRACE << "TCP" << text;
    logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), text);
    logSerialPane(fontDarkBlue, QStringLiteral("&gt;"), text);
}

void MainWindow::openSerialPort() {}
void MainWindow::closeSerialPort() {}
void MainWindow::writeSerialData(const QByteArray &) {}
void MainWindow::readSerialData() {}
void MainWindow::handleSerialError(QSerialPort::SerialPortError) {}
void MainWindow::slotSerialChange() {}
void MainWindow::on_lineEditSerial_returnPressed() {}
