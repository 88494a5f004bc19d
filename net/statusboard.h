#pragma once

#include "core/bridgestatus.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>

// What the status endpoint serves at one moment: the record and the last lines of traffic.
struct StatusSnapshot {
    bridgestatus::BridgeStatus status;
    QStringList traffic; // oldest first
};

// Keeps the bridge's counters as the road reports what happens, and hands the status server a
// snapshot on its own thread. The road's calls and snapshot() share one lock that is held only to
// add to a counter or to copy the record (implicitly shared strings, a bounded list), never while
// anything is sent, so a slow scraper cannot hold up the bridge.
class StatusBoard : public QObject
{
    Q_OBJECT

public:
    // `mode` is "window" or "service"; the uptime counts from here.
    explicit StatusBoard(const QString &mode, QObject *parent = nullptr);

    // Safe from any thread.
    StatusSnapshot snapshot() const;

    // How many lines of traffic are kept for the page.
    static constexpr int trafficLines = 30;

public slots:
    void commandWritten(qint64 bytes); // a command went to the serial port
    void replyForwarded(qint64 bytes); // a projector reply went to the TCP client
    void echoDropped();
    void timeout();
    void localAnswer(qint64 bytes); // answered by the bridge itself, sent to the TCP client
    void bytesFromSerial(qint64 bytes);
    void bytesFromTcp(qint64 bytes);
    void tcpAccepted();
    void currentClient(const QString &address); // a null string: nobody is connected
    void datagram();
    void probeAnswered();

    void portOpened(const QString &port, const QString &settings); // every open after the first is a reopen
    void portClosed();                                             // after a loss the state stays "lost"
    void portLost();                                               // the device went away while open
    void portWaiting(const QString &port);                         // missing; opened as soon as it appears
    void trafficLine(const QString &line);

private:
    template <typename Change> void change(Change &&apply);

    QElapsedTimer m_clock;
    mutable QMutex m_lock;
    bridgestatus::BridgeStatus m_status;
    QStringList m_traffic;
    qint64 m_lastReplyMs = -1; // on m_clock
    bool m_everOpened = false;
};
