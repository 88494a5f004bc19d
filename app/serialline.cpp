#include "app/serialline.h"

#include <QSocketNotifier>

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
