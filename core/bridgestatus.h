#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// What a bridge tells monitoring about itself, and the three ways it says it: a JSON object for
// programs, Prometheus text exposition for scrapers and a small HTML page for a person. The
// renderings are pure: the same record gives the same bytes.
namespace bridgestatus {

enum class PortState {
    Closed,  // never opened, or closed on purpose
    Open,    // open, commands go to the device
    Lost,    // the device went away while open
    Waiting, // the device is missing; it is opened as soon as it appears
};

// "open", "closed", "lost", "waiting": the JSON value and the metric's label.
QString portStateName(PortState state);

struct BridgeStatus {
    QString version;
    QString mode; // "window" or "service"
    double uptimeS = 0;

    QString port;     // the device's path; empty before one is chosen
    QString settings; // as the status bar shows them
    PortState portState = PortState::Closed;
    QDateTime portOpenSince; // invalid unless open
    qint64 reopens = 0;      // opened again after the first time
    qint64 losses = 0;

    qint64 commandsWritten = 0;
    qint64 repliesForwarded = 0;
    qint64 echoesDropped = 0;
    qint64 timeouts = 0;
    qint64 localAnswers = 0;

    qint64 bytesToSerial = 0;
    qint64 bytesFromSerial = 0;
    qint64 bytesToTcp = 0;
    qint64 bytesFromTcp = 0;

    qint64 tcpAccepted = 0;
    QString currentClient; // address; null when nobody is connected
    std::optional<double> lastReplyAgeS;

    qint64 probesAnswered = 0;
    qint64 datagrams = 0;
};

// One JSON object with the fields under their JSON names ("commands_written", ...); absent values
// (no client, no reply yet, not open) are null. Compact, ends without a line break.
QByteArray toJson(const BridgeStatus &status);

// Prometheus text exposition format 0.0.4: every family named tolvane_..., with # HELP and # TYPE
// before its samples, counters ending in _total; ends with a line break.
QByteArray toMetrics(const BridgeStatus &status);
inline constexpr char metricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// A page for a person on a phone: no external assets; it fetches /status every few seconds and
// shows the last lines of traffic given (oldest first), if any.
QByteArray toPage(const BridgeStatus &status, const QStringList &traffic);

} // namespace bridgestatus
