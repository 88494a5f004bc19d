// The serial link: opening and closing the port, commands out, the projector's lines back.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/roadevents.h"
#include "app/serialline.h"

#include "core/localanswer.h"
#include "core/logpane.h"
#include "core/serialreply.h"
#include "core/text.h"
#include "core/trace.h"
#include "settings/settingsdialog.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

void MainWindow::openSerialPort()
{
    if (!settings || !settings->portAvailable)
        return;
    if (serial->isOpen())
        return;

    settings->fillPortsInfo(); // may show its no-port box; the open is tried all the same
    settings->readINI();
    const Settings p = settings->settings();
    if (serial->isOpen()) // opened while the no-port box was up
        return;

    serial->setPortName(p.name);
    serial->setBaudRate(p.baudRate, QSerialPort::AllDirections);
    serial->setDataBits(p.dataBits);
    serial->setParity(p.parity);
    serial->setStopBits(p.stopBits);
    serial->setFlowControl(p.flowControl);

    if (serial->open(QIODevice::ReadWrite)) {
        line->opened();
        ui->labelSerialPort->setEnabled(true);
        ui->lineEditSerial->setEnabled(true);
        const QString connected =
            tr("Connected to %1 : %2, %3, %4, %5, %6")
                .arg(p.name, p.stringBaudRate, p.stringDataBits, p.stringParity, p.stringStopBits, p.stringFlowControl);
        ui->statusBar->showMessage(connected);
        const QString label = QStringLiteral("%1:%2,%3,%4,%5")
                                  .arg(p.name, p.stringBaudRate, p.stringDataBits, p.stringParity, p.stringStopBits);
        ui->labelSerialPort->setText(label);
        setWindowTitle(titleBase + QStringLiteral(" >>>") + p.name);
        TRACE << "Serial Open:" << label;
        emit road->portOpened(p.name, connected);
    } else {
        ui->labelSerialPort->setEnabled(false);
        ui->lineEditSerial->setEnabled(false);
        QMessageBox::critical(this, tr("Error"), serial->errorString());
        ui->statusBar->showMessage(tr("Open error"));
    }
}

void MainWindow::closeSerialPort()
{
    if (!serial->isOpen())
        return;
    line->close();
    TRACE << "Serial Closed!";
    emit road->portClosed();
}

void MainWindow::handleSerialError(QSerialPort::SerialPortError error)
{
    // ui is gone once the window is being destroyed: the port closing with it reports nothing.
    if (!ui || !line->isNews(error))
        return;
    if (!serial->isOpen()) {
        QMessageBox::warning(this, tr("Serial Port"), serial->errorString());
        return;
    }
    emit road->portLost(line->lossText());
    line->reportLoss([this] {
        QMessageBox::critical(this, tr("Critical Error"), line->lossText());
        closeSerialPort();
    });
}

bool MainWindow::isSerialOpen() const { return serial->isOpen(); }

void MainWindow::openAppearedPort()
{
    if (!settings || serial->isOpen())
        return;
    if (!settings->portAvailable)
        settings->fillPortsInfo(); // may show its no-port box
    openSerialPort();
}

void MainWindow::slotSerialChange()
{
    closeSerialPort();
    openSerialPort();
}

void MainWindow::slotTcpRX(QString text)
{
    const RoadEvents::Handling handling(road);
    TRACE << "TCP" << text;
    logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), text);
    logSerialPane(fontDarkBlue, QStringLiteral("&gt;"), text);

    QString terminated = text;
    if (!terminated.endsWith(QLatin1String("\r\n")))
        terminated += QStringLiteral("\r\n");
    const QByteArray command = terminated.toLocal8Bit();

    if (text::startsWithOp(text)) {
        TRACE << command;
        if (serial->isOpen())
            writeSerialData(command);
    }
    // settings is null only while the dialog's own constructor shows its no-port box.
    const bool answered = !settings || !settings->portAvailable;
    if (answered)
        emit sigWriteTCPdata(localanswer::answer(terminated));
    emit road->textHandled(answered);
}

void MainWindow::writeSerialData(const QByteArray &data)
{
    if (!serial->isWritable()) {
        QMessageBox::critical(this, tr("Error"), serial->errorString());
        ui->statusBar->showMessage(tr("Write Serial Error!"));
        return;
    }
    serial->write(data);
    const bool sent = serial->waitForBytesWritten(1000);
    // The kernel often finishes a serial write in a worker it has just woken on this core, which runs
    // only when this thread lets go: let it, before the pane and trace work that follows.
    if (sent)
        QThread::yieldCurrentThread();
    emit road->commandWritten(data, sent);
    if (!sent)
        logSerialPlain(QStringLiteral("TimeOut!!!"));
    const QString written = text::utf8UpToNul(data);
    lastCommand = written.simplified();
    TRACE << "Srial Written:" << lastCommand;
    logSerialPane(fontRed, QStringLiteral("&gt;&gt;&gt;"), written);
}

void MainWindow::readSerialData()
{
    const RoadEvents::Handling handling(road);
    if (!ui || !serial->canReadLine())
        return;
    const QByteArray line = serial->readLine();
    const QString lineText = text::utf8UpToNul(line);
    const QString prefix = QStringLiteral("&lt;&lt;&lt;");

    emit road->serialLineRead(line);
    const serialreply::Kind kind = serialreply::classify(lineText, lastCommand);
    if (kind == serialreply::Kind::Echo) {
        emit road->echoDropped();
        return;
    }
    if (kind == serialreply::Kind::Reply) {
        TRACE << "Got OP response:" << line;
        emit road->replyTaken(line);
        emit sigWriteTCPdata(line);
        logTcpPane(fontDarkBlue, prefix, lineText);
        const RoadEvents::Pass pass(road);
        QCoreApplication::processEvents();
    }
    logSerialPane(fontDarkBlue, prefix, lineText);
}

void MainWindow::on_lineEditSerial_returnPressed()
{
    const QString command = ui->lineEditSerial->text() + QStringLiteral("\r");
    if (serial->isOpen())
        writeSerialData(command.toLocal8Bit());
}
