#include "app/statusfeed.h"

#include "app/mainwindow.h"
#include "app/roadevents.h"
#include "core/discovery.h"
#include "net/mytcpserver.h"
#include "net/myudprx.h"
#include "net/statusboard.h"

StatusFeed::StatusFeed(StatusBoard *board, MainWindow *window, RoadEvents *road, MyServer *server, MyUdpRX *udp)
    : QObject(window)
    , board(board)
{
    connect(road, &RoadEvents::commandWritten, this, [board](const QByteArray &bytes, bool confirmed) {
        board->commandWritten(bytes.size());
        if (!confirmed)
            board->timeout();
    });
    connect(road, &RoadEvents::serialLineRead, this,
            [board](const QByteArray &line) { board->bytesFromSerial(line.size()); });
    connect(road, &RoadEvents::echoDropped, board, &StatusBoard::echoDropped);

    // The window sends the client two things: the replies it takes from the port, each announced just
    // before it goes, and the answers it gives itself. Whatever the server hands to the socket on the
    // way is counted for the one being sent; a reply with nobody to take it is not forwarded.
    connect(road, &RoadEvents::replyTaken, this, [this] {
        replyOnItsWay = true;
        handed = 0;
    });
    connect(server, &MyServer::bytesWritten, this, [this](qint64 bytes) { handed += bytes; });
    connect(window, &MainWindow::sigWriteTCPdata, this, [this] {
        if (!replyOnItsWay)
            this->board->localAnswer(handed);
        else if (handed > 0)
            this->board->replyForwarded(handed);
        replyOnItsWay = false;
        handed = 0;
    });

    connect(server, &MyServer::accepted, board, &StatusBoard::tcpAccepted);
    connect(server, &MyServer::bytesRead, board, &StatusBoard::bytesFromTcp);
    connect(server, &MyServer::clientChanged, board, &StatusBoard::currentClient);

    // Every probe gets its numbered reply, so the probes seen are the discovery counter.
    connect(udp, &MyUdpRX::sigSendUDPdata, this, [board](const QString &record) {
        board->datagram();
        if (discovery::isProbe(record))
            board->probeAnswered();
    });

    connect(road, &RoadEvents::portOpened, board, &StatusBoard::portOpened);
    connect(road, &RoadEvents::portLost, board, [board] { board->portLost(); });
    connect(road, &RoadEvents::portClosed, board, &StatusBoard::portClosed);
    connect(road, &RoadEvents::portWaiting, board, &StatusBoard::portWaiting);
}
