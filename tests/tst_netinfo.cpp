// Which interface the title, the About box and the discovery reply name.
#include "core/netinfo.h"

#include <QtTest>

using Interfaces = QList<netinfo::Interface>;
Q_DECLARE_METATYPE(Interfaces)

namespace {

netinfo::Interface iface(const QString &name, bool up, const QString &mac, const QStringList &addresses)
{
    netinfo::Interface i{name, up, mac, {}};
    for (const QString &a : addresses)
        i.addresses.append(QHostAddress(a));
    return i;
}

const QString macA = QStringLiteral("00:11:22:33:44:55");
const QString macB = QStringLiteral("66:77:88:99:AA:BB");

} // namespace

class TestNetInfo : public QObject
{
    Q_OBJECT

private slots:
    void filter_data()
    {
        QTest::addColumn<Interfaces>("interfaces");
        QTest::addColumn<QStringList>("addresses"); // kind 0
        QTest::addColumn<QStringList>("hardware");  // kind 1
        const QStringList none{QStringLiteral("???")};
        QTest::newRow("down interface skipped") << Interfaces{iface("eth0", false, macA, {"10.1.2.3"})} << none << none;
        QTest::newRow("VM anywhere in the name skipped")
            << Interfaces{iface("eth0-VM", true, macA, {"10.1.2.3"}), iface("eth1", true, macB, {"10.1.2.4"})}
            << QStringList{"10.1.2.4"} << QStringList{macB};
        QTest::newRow("lower-case vm is not VM")
            << Interfaces{iface("vmnet1", true, macA, {"172.16.5.1"})} << QStringList{"172.16.5.1"} << QStringList{macA};
        QTest::newRow("loopback and IPv6 skipped")
            << Interfaces{iface("lo", true, macB, {"127.0.0.1", "::1"}), iface("eth0", true, macA, {"fe80::1"})} << none << none;
        QTest::newRow("two IPv4 on one interface give the MAC twice, system order kept")
            << Interfaces{iface("wlan0", true, macB, {"192.168.1.20"}), iface("eth0", true, macA, {"10.1.2.3", "127.0.0.2", "10.9.8.7"})}
            << QStringList{"192.168.1.20", "10.1.2.3", "10.9.8.7"} << QStringList{macB, macA, macA};
    }

    void filter()
    {
        QFETCH(Interfaces, interfaces);
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, hardware);
        QCOMPARE(netinfo::localNetInfo(interfaces, netinfo::Ipv4Addresses), addresses);
        QCOMPARE(netinfo::localNetInfo(interfaces, netinfo::HardwareAddresses), hardware);
    }
};

QTEST_APPLESS_MAIN(TestNetInfo)
#include "tst_netinfo.moc"
