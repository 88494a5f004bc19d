#include "app/statusendpoint.h"

#include "app/roadevents.h"
#include "core/servicelog.h"

#include <QTime>

#include <cstdio>

StatusEndpoint::StatusEndpoint(const QString &mode)
    : m_board(mode)
{ }

StatusEndpoint::~StatusEndpoint() { m_server.reset(); }

bool StatusEndpoint::start(const QHostAddress &address, quint16 port, bool journal)
{
    m_server = std::make_unique<StatusServer>([board = &m_board] { return board->snapshot(); });
    if (m_server->listen(address, port))
        return true;
    const QString line =
        servicelog::line(servicelog::Warning, QStringLiteral("Status endpoint"),
                         m_server->errorString() + QStringLiteral("; the bridge runs without it"), journal);
    m_server.reset();
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    return false;
}

void StatusEndpoint::showTraffic(RoadEvents *road)
{
    QObject::connect(road, &RoadEvents::trafficLine, &m_board,
                     [board = &m_board](RoadEvents::Pane, const QString &line) {
                         board->trafficLine(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line);
                     });
}
