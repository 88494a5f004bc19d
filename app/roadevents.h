#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// What happens on the bridge's road, told as it happens: the traffic slots emit, and whoever watches
// connects (the panes; later the status counters and a log). Every connection is direct, so a listener
// runs inside the emitting slot and must only take note: the road never waits for it.
class RoadEvents : public QObject
{
    Q_OBJECT

public:
    enum Pane { TcpPane, SerialPane };
    using QObject::QObject;

    // A traffic handler (TCP text, datagram, serial line) runs while one lives; they nest.
    class Handling
    {
    public:
        explicit Handling(RoadEvents *road)
            : road(road)
        {
            ++road->handling;
        }
        ~Handling() { --road->handling; }
        Handling(const Handling &) = delete;
        Handling &operator=(const Handling &) = delete;

    private:
        RoadEvents *road;
    };
    bool isHandling() const { return handling > 0; }

    // A traffic handler's own pass of the event loop runs while one lives.
    class Pass
    {
    public:
        explicit Pass(RoadEvents *road)
            : road(road)
        {
            emit road->passBegins();
        }
        ~Pass() { emit road->passEnds(); }
        Pass(const Pass &) = delete;
        Pass &operator=(const Pass &) = delete;

    private:
        RoadEvents *road;
    };

signals:
    // An entry for a pane: HTML, or a plain-text paragraph.
    void paneEntry(RoadEvents::Pane pane, const QString &text, bool html);
    // The same entry as a plain line: its prefix as shown, then its text as it came.
    void trafficLine(RoadEvents::Pane pane, const QString &line);
    // A text from the TCP client has been handled; answered when the bridge answered it itself.
    void textHandled(bool answered);
    // Bytes have gone to the device (confirmed: written within the wait).
    void commandWritten(const QByteArray &bytes, bool confirmed);
    // A reply line has been taken from the port; it goes to the TCP client next.
    void replyTaken(const QByteArray &line);
    // A line has been read from the port: an echo, a reply or anything else the device said.
    void serialLineRead(const QByteArray &line);
    // The line read was the echo of the last command, and went no further.
    void echoDropped();

    // The serial port's state. Opened: `port` as configured, `settings` as the status bar says them.
    // Lost: the device went away while open (hang-up, unplug, I/O error); the close follows. Closed:
    // our own close (after a loss too). Waiting: the port is missing and is opened once it appears.
    void portOpened(const QString &port, const QString &settings);
    void portLost(const QString &text);
    void portClosed();
    void portWaiting(const QString &port);
    void passBegins();
    void passEnds();

private:
    int handling = 0;
};
