#pragma once

#include "net/statusboard.h"
#include "net/statusserver.h"

#include <QHostAddress>

#include <memory>

class RoadEvents;

// The status endpoint of the running bridge: the board the window counts on, and the server that
// reads it on its own thread. The server stops before the board goes.
class StatusEndpoint
{
public:
    explicit StatusEndpoint(const QString &mode);
    ~StatusEndpoint();

    StatusBoard *board() { return &m_board; }

    // Serves on `address` and `port`. When it cannot, one line on stderr (with the journal's prefix
    // when `journal`) says why and the bridge runs on without it.
    bool start(const QHostAddress &address, quint16 port, bool journal);

    // The page shows the last lines of traffic as the service's log writes them.
    void showTraffic(RoadEvents *road);

private:
    StatusBoard m_board;
    std::unique_ptr<StatusServer> m_server;
};
