#pragma once

#include <QSerialPort>

// The serial line's health as the line itself tells it. Qt's error codes are no proof: a read that finds
// nothing yet (another read took the data first) is reported like a dead line, and a hung-up line only
// as reads that return nothing. So the line is asked, and Qt's watching of it is put right.
namespace serialline {

// What a live line answers when asked for its modem signals: nothing wrong, or that it has none (a
// pseudo-terminal). Every other answer (gone, no permission, anything unknown) means the device is lost.
bool answersAlive(QSerialPort::SerialPortError queryError);

// Asks the open line for its modem signals; the port's error is cleared first and left as the answer.
bool lineAnswers(QSerialPort *port);

// Qt stops watching a line after a read that found nothing; setting the read buffer's size watches it
// again, whatever the buffer holds.
void resumeReads(QSerialPort *port);

// A hung-up line stays readable and reads nothing, so Qt would poll it and report errors on every turn
// of the event loop. Stops watching it until the port is closed (a reopen makes fresh watchers). Qt has
// no public call for this: returns how many read watchers it found, 0 if Qt's insides have changed.
int quietReads(QSerialPort *port);

} // namespace serialline
