// The serial link: opening and closing the port, commands out, the projector's lines back.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/panefeed.h"
#include "app/serialline.h"

#include "core/localanswer.h"
#include "core/logpane.h"
#include "core/serialreply.h"
#include "core/text.h"
#include "core/trace.h"
#include "settings/settingsdialog.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QThread>
#include <QTimer>

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
        serialLost = false;
        ui->labelSerialPort->setEnabled(true);
        ui->lineEditSerial->setEnabled(true);
        ui->statusBar->showMessage(tr("Connected to %1 : %2, %3, %4, %5, %6")
                                       .arg(p.name, p.stringBaudRate, p.stringDataBits, p.stringParity,
                                            p.stringStopBits, p.stringFlowControl));
        const QString label = QStringLiteral("%1:%2,%3,%4,%5")
                                  .arg(p.name, p.stringBaudRate, p.stringDataBits, p.stringParity, p.stringStopBits);
        ui->labelSerialPort->setText(label);
        setWindowTitle(titleBase + QStringLiteral(" >>>") + p.name);
        TRACE << "Serial Open:" << label;
    } else {
        ui->labelSerialPort->setEnabled(false);
        ui->lineEditSerial->setEnabled(false);
        QMessageBox::critical(this, tr("Error"), serial->errorString());
        ui->statusBar->showMessage(tr("Open error"));
    }
}

void MainWindow::closeSerialPort()
{
    if (!serial->isOpen() || serialClosing)
        return;
    serialClosing = true;
    serial->close();
    serialClosing = false;
    serialLost = false;
    TRACE << "Serial Closed!";
}

void MainWindow::handleSerialError(QSerialPort::SerialPortError error)
{
    // ui is gone once the window is being destroyed: the port closing with it reports nothing.
    if (!ui || serialClosing || probingLine)
        return;
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (!serial->isOpen()) {
        if (error == QSerialPort::ResourceError)
            QMessageBox::warning(this, tr("Serial Port"), serial->errorString());
        return;
    }
    if (serialLost)
        return; // one box per loss; the port closes when it is dismissed

    // Neither error proves the device gone. Qt reports a hung-up line only as reads that return
    // nothing (a read error), and a read that finds nothing yet, because a nested read took the data
    // first, as a resource error, after which it stops reading. Ask the line itself.
    const QString text = serial->errorString();
    if (lineAnswers()) {
        if (error == QSerialPort::ResourceError)
            serialline::resumeReads(serial);
        return;
    }
    serialLost = true;
    serialline::quietReads(serial);
    reportLoss(error == QSerialPort::ResourceError ? text : serial->errorString());
}

bool MainWindow::lineAnswers()
{
    const QScopedValueRollback<bool> probing(probingLine, true);
    return serialline::lineAnswers(serial);
}

// The box, then the close. Noticed inside a socket's slot (a probe being answered, a reply being
// read), the box waits until that slot has returned to the event loop.
void MainWindow::reportLoss(const QString &text)
{
    if (!serialLost || !serial->isOpen())
        return; // closed or reopened (Apply) while the box was waiting: that loss is over
    if (socketSlots > 0) {
        QTimer::singleShot(10, this, [this, text] { reportLoss(text); });
        return;
    }
    QMessageBox::critical(this, tr("Critical Error"), text);
    closeSerialPort();
}

void MainWindow::slotSerialChange()
{
    closeSerialPort();
    openSerialPort();
}

void MainWindow::slotTcpRX(QString text)
{
    const QScopedValueRollback<int> inSocketSlot(socketSlots, socketSlots + 1);
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
    panes->standBack(answered);
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
    panes->goAhead();
    if (!sent)
        logSerialPlain(QStringLiteral("TimeOut!!!"));
    // A dead line never takes the bytes; left queued, Qt would keep retrying them at full speed
    // until the "Critical Error" box is dismissed.
    if (serialLost)
        serial->clear(QSerialPort::Output);
    const QString written = text::utf8UpToNul(data);
    lastCommand = written.simplified();
    TRACE << "Srial Written:" << lastCommand;
    logSerialPane(fontRed, QStringLiteral("&gt;&gt;&gt;"), written);
}

void MainWindow::readSerialData()
{
    const QScopedValueRollback<int> inSocketSlot(socketSlots, socketSlots + 1);
    if (!ui || !serial->canReadLine())
        return;
    const QByteArray line = serial->readLine();
    const QString lineText = text::utf8UpToNul(line);
    const QString prefix = QStringLiteral("&lt;&lt;&lt;");

    const serialreply::Kind kind = serialreply::classify(lineText, lastCommand);
    if (kind == serialreply::Kind::Echo)
        return;
    if (kind == serialreply::Kind::Reply) {
        const qint64 announced = serial->bytesAvailable(); // this notification's own leftover waits
        TRACE << "Got OP response:" << line;
        emit sigWriteTCPdata(line);
        panes->standBack(true);
        logTcpPane(fontDarkBlue, prefix, lineText);
        // One pass of the event loop: other traffic is served between a reply and its serial pane
        // line. Pane work waits through it.
        const PaneFeed::Quiet quiet(panes);
        QCoreApplication::processEvents();
        // Qt does not announce data that arrives while this notification is still being handled,
        // so the projector's next output would wait for yet more data: take it as its own notification.
        if (serial->isOpen() && serial->bytesAvailable() > announced)
            QMetaObject::invokeMethod(this, "readSerialData", Qt::QueuedConnection);
    }
    logSerialPane(fontDarkBlue, prefix, lineText);
}

void MainWindow::on_lineEditSerial_returnPressed()
{
    const QString command = ui->lineEditSerial->text() + QStringLiteral("\r");
    if (serial->isOpen())
        writeSerialData(command.toLocal8Bit());
}
