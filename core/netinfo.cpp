#include "core/netinfo.h"

#include <QNetworkInterface>

namespace netinfo {

QList<Interface> systemInterfaces()
{
    QList<Interface> result;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : all) {
        Interface i;
        i.humanReadableName = iface.humanReadableName();
        i.up = iface.flags().testFlag(QNetworkInterface::IsUp);
        i.hardwareAddress = iface.hardwareAddress();
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries)
            i.addresses.append(entry.ip());
        result.append(i);
    }
    return result;
}

QStringList localNetInfo(const QList<Interface> &interfaces, int kind)
{
    QStringList list;
    for (const Interface &iface : interfaces) {
        // Virtual machine adapters are never the address a control program can reach.
        if (iface.addresses.isEmpty() || !iface.up || iface.humanReadableName.contains(QLatin1String("VM")))
            continue;
        for (const QHostAddress &address : iface.addresses) {
            if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            if (kind == Ipv4Addresses)
                list.append(address.toString());
            else if (kind == HardwareAddresses)
                list.append(iface.hardwareAddress);
        }
    }
    if (list.isEmpty())
        list.append(QStringLiteral("???"));
    return list;
}

} // namespace netinfo
