#include "app/serialline.h"

#include "app/roadevents.h"

#include <QPointer>
#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <QTimer>

namespace serialline {

bool answersAlive(QSerialPort::SerialPortError queryError)
{
    return queryError == QSerialPort::NoError || queryError == QSerialPort::UnsupportedOperationError;
}

bool lineAnswers(QSerialPort *port)
{
    port->clearError();
    port->pinoutSignals();
    return answersAlive(port->error());
}

void resumeReads(QSerialPort *port) { port->setReadBufferSize(port->readBufferSize()); }

int quietReads(QSerialPort *port)
{
    int found = 0;
    const auto notifiers = port->findChildren<QSocketNotifier *>();
    for (QSocketNotifier *notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read) {
            notifier->setEnabled(false);
            ++found;
        }
    }
    return found;
}

} // namespace serialline

SerialLine::SerialLine(QSerialPort *port, RoadEvents *road, QObject *parent)
    : QObject(parent)
    , port(port)
    , road(road)
{
    connect(road, &RoadEvents::replyTaken, this, &SerialLine::replyTaken);
    connect(road, &RoadEvents::passBegins, this, &SerialLine::passBegins);
    connect(road, &RoadEvents::passEnds, this, &SerialLine::passEnds);
    connect(road, &RoadEvents::commandWritten, this, &SerialLine::dropUnsentIfLost);
}

// A reply's pass comes right after it is forwarded; what the port holds now is its own leftover.
void SerialLine::replyTaken() { replies.append(Pending{port->bytesAvailable(), passes + 1}); }

// Data that came during a reply's pass is announced as a notification of its own.
void SerialLine::passEnds()
{
    if (!replies.isEmpty() && replies.last().pass == passes) {
        const Pending reply = replies.takeLast();
        if (port->isOpen() && port->bytesAvailable() > reply.held)
            emit unannouncedData();
    }
    --passes;
}

bool SerialLine::isNews(QSerialPort::SerialPortError error)
{
    if (closing || asking)
        return false;
    if (!port->isOpen())
        return error == QSerialPort::ResourceError;
    // Qt reports a hung-up line only as reads that return nothing (a read error), and a read that
    // finds nothing yet as a resource error, after which it may stop reading.
    if ((error != QSerialPort::ReadError && error != QSerialPort::ResourceError) || lost)
        return false;
    const QString said = port->errorString();
    bool answers = false;
    {
        const QScopedValueRollback<bool> askingLine(asking, true);
        answers = serialline::lineAnswers(port);
    }
    if (answers) {
        if (error == QSerialPort::ResourceError)
            serialline::resumeReads(port);
        return false;
    }
    lost = true;
    text = error == QSerialPort::ResourceError ? said : port->errorString();
    serialline::quietReads(port);
    return true;
}

void SerialLine::reportLoss(const std::function<void()> &report)
{
    if (!lost || !port->isOpen())
        return;
    if (road->isHandling()) {
        QTimer::singleShot(reportRetryMs, this, [this, report] { reportLoss(report); });
        return;
    }
    report();
}

void SerialLine::close()
{
    const QScopedValueRollback<bool> ours(closing, true);
    port->close();
    lost = false;
}

void SerialLine::dropUnsentIfLost()
{
    if (lost)
        port->clear(QSerialPort::Output);
}
