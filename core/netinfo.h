#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// Which local address the title, the About box and the discovery reply name.
namespace netinfo {

enum Kind { Ipv4Addresses = 0, HardwareAddresses = 1 };

// What the rule needs to know of one network interface.
struct Interface {
    QString humanReadableName;
    bool up = false;
    QString hardwareAddress;
    QList<QHostAddress> addresses; // one per address entry, in the system's order
};

// The interfaces as the system lists them.
QList<Interface> systemInterfaces();

// Kind 0: the IPv4 addresses of the usable interfaces; kind 1: their hardware addresses, entry for
// entry. Never empty: "???" when nothing qualifies.
QStringList localNetInfo(const QList<Interface> &interfaces, int kind);

} // namespace netinfo
