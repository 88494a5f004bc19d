// Where a discovery reply goes, and the reply itself.
#include "fuzz/check.h"

#include "core/discovery.h"
#include "core/product.h"

#include <QHostAddress>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString ip = QString::fromUtf8(fuzz::bytes(data, size));

    FUZZ_CHECK(discovery::destination(ip, false) == QLatin1String("255.255.255.255"));

    // Windows 10: the address up to its last "." with ".255" put in place of the rest.
    const QString to = discovery::destination(ip, true);
    FUZZ_CHECK(to.endsWith(QLatin1String(".255")));
    const QString prefix = to.left(to.size() - 4);
    FUZZ_CHECK(ip.startsWith(prefix));
    const QString rest = ip.mid(prefix.size());
    if (ip.contains(QLatin1Char('.')))
        FUZZ_CHECK(rest.startsWith(QLatin1Char('.')) && rest.count(QLatin1Char('.')) == 1);
    else
        FUZZ_CHECK(rest.isEmpty());

    // A real IPv4 address gives the broadcast address of its /24, whatever the netmask.
    QHostAddress address;
    if (address.setAddress(ip) && address.protocol() == QAbstractSocket::IPv4Protocol && address.toString() == ip) {
        QHostAddress broadcast;
        FUZZ_CHECK(broadcast.setAddress(to));
        FUZZ_CHECK(broadcast.toIPv4Address() == ((address.toIPv4Address() & 0xffffff00u) | 0xffu));
    }

    // The reply names the address as given, with the running number in plain decimal.
    const int count = int(fuzz::hash(fuzz::bytes(data, size)) & 0x7fffffff) >> (size % 31);
    const QByteArray reply = discovery::reply(ip, QStringLiteral("02:00:00:00:00:01"), count);
    FUZZ_CHECK(reply
               == "ip=" + ip.toUtf8() + ";mac=02:00:00:00:00:01;model=" + product::model + ";serial=" + product::appName
                   + "-" + QByteArray::number(count) + ";");
    if (!ip.contains(QLatin1String("?ZZ?")))
        FUZZ_CHECK(!discovery::isProbe(QString::fromUtf8(reply)));
    return 0;
}
