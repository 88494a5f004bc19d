#pragma once

#include <QObject>

class MainWindow;
class MyServer;
class MyUdpRX;
class RoadEvents;
class StatusBoard;

// Tells a status board what the bridge does, as the road, the TCP server and the UDP listener report
// it. Made by the window right after it wires its server, so that its note of what went to the client
// comes after the server's write. The board must outlive it.
class StatusFeed : public QObject
{
    Q_OBJECT

public:
    StatusFeed(StatusBoard *board, MainWindow *window, RoadEvents *road, MyServer *server, MyUdpRX *udp);

private:
    StatusBoard *board;
    bool replyOnItsWay = false; // a reply was taken from the port; the next bytes for the client are it
    qint64 handed = 0;          // bytes the server handed to the client's socket for that
};
