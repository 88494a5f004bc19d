#pragma once

#include "tools/probe/exchange.h"
#include "tools/probe/outcome.h"
#include "tools/probe/prober.h"

#include <QJsonObject>
#include <QObject>
#include <QVector>

// The TCP half of `tolvane-probe survey`: each bridge that answered discovery is asked the queries in
// turn on a connection of its own, many bridges at once, and given a verdict.
class Survey : public QObject
{
    Q_OBJECT

public:
    struct Asked {
        QByteArray query;
        Outcome outcome = Outcome::NotAsked;
        QByteArray reply;
        double latencyMs = 0;
    };
    struct Bridge {
        prober::Answer found;
        Connection tcp = Connection::NotTried;
        QVector<Asked> asked;
        double slowestMs = 0; // of the answered queries
        Verdict verdict = Verdict::NoAnswer;
        QJsonObject status; // what its status endpoint said; empty when it did not answer
    };

    // Connections open at the same time: enough to get through a building within the timeouts, few
    // enough for any machine's file limit.
    static constexpr int maxParallel = 64;

    Survey(const QVector<prober::Answer> &found, const QList<QByteArray> &queries, const TcpOptions &tcp,
           QObject *parent = nullptr);

    // Starts asking; finished() follows once every bridge has its verdict (at once when there is none).
    void start();
    bool isDone() const { return m_finished == m_bridges.size(); }
    const QVector<Bridge> &bridges() const { return m_bridges; }

signals:
    void finished();

private:
    void startMore();
    void ask(int bridge);
    void onOpenFailed(int bridge, Exchange::Failure failure);
    void onAnswer(int bridge, Outcome outcome, const QByteArray &reply, double latencyMs);
    void done(int bridge);

    const TcpOptions m_tcp;
    QVector<Bridge> m_bridges;
    QVector<Exchange *> m_exchanges; // one per bridge once started
    QVector<int> m_next;             // per bridge: the query being asked
    int m_started = 0;
    int m_running = 0;
    int m_finished = 0;
};
