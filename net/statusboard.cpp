#include "net/statusboard.h"

#include "core/version.h"

using bridgestatus::PortState;

StatusBoard::StatusBoard(const QString &mode, QObject *parent)
    : QObject(parent)
{
    m_clock.start();
    m_status.version = QString::fromLatin1(version::number);
    m_status.mode = mode;
}

template <typename Change> void StatusBoard::change(Change &&apply)
{
    const QMutexLocker locker(&m_lock);
    apply(m_status);
}

StatusSnapshot StatusBoard::snapshot() const
{
    StatusSnapshot s;
    {
        const QMutexLocker locker(&m_lock);
        s.status = m_status;
        s.traffic = m_traffic;
        if (m_lastReplyMs >= 0)
            s.status.lastReplyAgeS = (m_clock.elapsed() - m_lastReplyMs) / 1000.0;
    }
    s.status.uptimeS = m_clock.elapsed() / 1000.0;
    return s;
}

void StatusBoard::commandWritten(qint64 bytes)
{
    change([&](auto &s) {
        ++s.commandsWritten;
        s.bytesToSerial += bytes;
    });
}

void StatusBoard::replyForwarded(qint64 bytes)
{
    const qint64 now = m_clock.elapsed();
    change([&](auto &s) {
        ++s.repliesForwarded;
        s.bytesToTcp += bytes;
        m_lastReplyMs = now;
    });
}

void StatusBoard::localAnswer(qint64 bytes)
{
    change([&](auto &s) {
        ++s.localAnswers;
        s.bytesToTcp += bytes;
    });
}

void StatusBoard::echoDropped()
{
    change([](auto &s) { ++s.echoesDropped; });
}
void StatusBoard::timeout()
{
    change([](auto &s) { ++s.timeouts; });
}
void StatusBoard::bytesFromSerial(qint64 bytes)
{
    change([&](auto &s) { s.bytesFromSerial += bytes; });
}
void StatusBoard::bytesFromTcp(qint64 bytes)
{
    change([&](auto &s) { s.bytesFromTcp += bytes; });
}
void StatusBoard::tcpAccepted()
{
    change([](auto &s) { ++s.tcpAccepted; });
}
void StatusBoard::currentClient(const QString &address)
{
    change([&](auto &s) { s.currentClient = address; });
}
void StatusBoard::datagram()
{
    change([](auto &s) { ++s.datagrams; });
}
void StatusBoard::probeAnswered()
{
    change([](auto &s) { ++s.probesAnswered; });
}

void StatusBoard::portOpened(const QString &port, const QString &settings)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    change([&](auto &s) {
        s.port = port;
        s.settings = settings;
        s.portState = PortState::Open;
        s.portOpenSince = now;
        if (m_everOpened)
            ++s.reopens;
        m_everOpened = true;
    });
}

void StatusBoard::portClosed()
{
    change([](auto &s) {
        // The close that follows a loss leaves it lost: the device is still gone.
        if (s.portState != PortState::Lost)
            s.portState = PortState::Closed;
        s.portOpenSince = QDateTime();
    });
}

void StatusBoard::portLost()
{
    change([](auto &s) {
        if (s.portState == PortState::Open)
            ++s.losses;
        s.portState = PortState::Lost;
        s.portOpenSince = QDateTime();
    });
}

void StatusBoard::portWaiting(const QString &port)
{
    change([&](auto &s) {
        s.port = port;
        s.portState = PortState::Waiting;
        s.portOpenSince = QDateTime();
    });
}

void StatusBoard::trafficLine(const QString &line)
{
    const QMutexLocker locker(&m_lock);
    if (m_traffic.size() >= trafficLines)
        m_traffic.removeFirst();
    m_traffic.append(line);
}
