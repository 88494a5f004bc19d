#pragma once

#include "core/discovery.h"
#include "core/product.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QVector>

#include <functional>

namespace cmdline {
class Command;
}

// The discovery side of a control program: one probe to each address, then every reply that
// comes within the wait. Shared by `discover` and `survey`.
namespace prober {

// To the bridge's ports with its probe, broadcast unless --to says otherwise.
struct Request {
    QList<QHostAddress> to;
    quint16 port = product::udpRxPort;       // where probes go
    quint16 listenPort = product::udpTxPort; // where replies come
    QByteArray payload = product::discoveryProbe;
    int waitMs = 1000;
};

struct Answer {
    QByteArray bytes;
    QHostAddress sender; // IPv4 addresses as such, not mapped into IPv6
    quint16 senderPort = 0;
    bool readable = false; // the bytes have the reply's form, read into `reply`
    discovery::Reply reply;

    QString from() const; // "address:port", "[address]:port" for IPv6
};

// Listens first, so a quick bridge is never missed, then probes and collects. False, with a
// one-line reason, when the reply port cannot be bound or a probe cannot be sent.
bool run(const Request &request, QVector<Answer> *answers, QString *error,
         const std::function<void(const Answer &)> &onAnswer = {});

// --to (any number of times) and --wait, as `discover` and `survey` both take them.
void addOptions(cmdline::Command &command);
// The request they ask for; false after telling the user what is wrong with them.
bool readOptions(cmdline::Command &command, Request *request);

} // namespace prober
