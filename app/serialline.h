#pragma once

#include <QSerialPort>
#include <QString>
#include <QVector>

#include <functional>

class RoadEvents;

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

// Decides what a port error means for the one serial port, and when a loss may be reported.
class SerialLine : public QObject
{
    Q_OBJECT

public:
    SerialLine(QSerialPort *port, RoadEvents *road, QObject *parent = nullptr);

    // True for an error to report as such: on a closed port a resource error; on an open one a failed
    // read when the line itself does not answer either, once per loss. Errors raised by our own close
    // or by asking the line are no news; a live line is watched again. A lost line is no longer
    // watched, and lossText() keeps what the port said when the loss was noticed.
    bool isNews(QSerialPort::SerialPortError error);
    bool isLost() const { return lost; }
    QString lossText() const { return text; }

    // Runs `report` (the box, then the close) once no traffic handler is running: a modal box opened
    // inside one would leave its socket unread for as long as the box is up. Dropped when the loss is
    // over by then (the port closed, or opened again).
    void reportLoss(const std::function<void()> &report);

    // Our own close: what it raises is no news, and the loss is over.
    void close();
    void opened() { lost = false; }

    // Bytes a dead line will never take: dropped, or Qt would retry them at full speed until the loss
    // is reported.
    void dropUnsentIfLost();

    static constexpr int reportRetryMs = 10;

signals:
    // Data came during a reply's event pass that Qt will not announce: handle it as a notification of
    // its own (connected queued, so it is one).
    void unannouncedData();

private:
    void replyTaken();
    void passBegins() { ++passes; }
    void passEnds();

    QSerialPort *port;
    RoadEvents *road;
    bool lost = false;    // the current loss is noticed and not yet over
    bool closing = false; // our own close is running
    bool asking = false;  // the line is being asked; its errors are its answer
    QString text;
    // Qt does not announce data that arrives while a notification is still being handled, so the
    // device's next output would wait for yet more data. Per reply whose event pass is running: what
    // the port held before the pass, and the depth of that pass.
    struct Pending {
        qint64 held;
        int pass;
    };
    QVector<Pending> replies;
    int passes = 0;
};
