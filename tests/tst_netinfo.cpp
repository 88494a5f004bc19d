#include "core/netinfo.h"
#include "testenv.h"

#include <QApplication>
#include <QtTest>

using netinfo::Interface;
using Interfaces = QList<Interface>;
Q_DECLARE_METATYPE(Interfaces)

namespace {

Interface iface(const QString &name, bool up, const QString &mac, const QStringList &addresses)
{
    Interface i;
    i.humanReadableName = name;
    i.up = up;
    i.hardwareAddress = mac;
    for (const QString &a : addresses)
        i.addresses.append(QHostAddress(a));
    return i;
}

const QString macA = QStringLiteral("00:11:22:33:44:55");
const QString macB = QStringLiteral("66:77:88:99:AA:BB");

} // namespace

// Which interface the title, the About box and the discovery reply name.
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

        QTest::newRow("no interfaces") << Interfaces{} << none << none;
        QTest::newRow("one usable interface")
            << Interfaces{iface("eth0", true, macA, {"10.1.2.3"})} << QStringList{"10.1.2.3"} << QStringList{macA};
        QTest::newRow("down interface skipped even when it is the only one")
            << Interfaces{iface("eth0", false, macA, {"10.1.2.3"})} << none << none;
        QTest::newRow("interface without entries skipped")
            << Interfaces{iface("eth0", true, macA, {}), iface("eth1", true, macB, {"10.0.0.9"})}
            << QStringList{"10.0.0.9"} << QStringList{macB};
        QTest::newRow("VM in the name skipped")
            << Interfaces{iface("VMware Network Adapter VMnet8", true, macA, {"192.168.56.1"})} << none << none;
        QTest::newRow("VM anywhere in the name skipped")
            << Interfaces{iface("eth0-VM", true, macA, {"10.1.2.3"}), iface("eth1", true, macB, {"10.1.2.4"})}
            << QStringList{"10.1.2.4"} << QStringList{macB};
        QTest::newRow("lower-case vm is not VM")
            << Interfaces{iface("vmnet1", true, macA, {"172.16.5.1"})} << QStringList{"172.16.5.1"} << QStringList{macA};
        QTest::newRow("loopback addresses skipped, wherever they are")
            << Interfaces{iface("lo", true, "00:00:00:00:00:00", {"127.0.0.1", "::1"}),
                          iface("eth0", true, macA, {"127.0.0.2", "10.1.2.3"})}
            << QStringList{"10.1.2.3"} << QStringList{macA};
        QTest::newRow("IPv6 skipped")
            << Interfaces{iface("eth0", true, macA, {"fe80::1", "2001:db8::5"})} << none << none;
        QTest::newRow("two IPv4 on one interface give two entries, the MAC twice")
            << Interfaces{iface("eth0", true, macA, {"10.1.2.3", "fe80::1", "10.9.8.7"}),
                          iface("wlan0", true, macB, {"192.168.1.20"})}
            << QStringList{"10.1.2.3", "10.9.8.7", "192.168.1.20"} << QStringList{macA, macA, macB};
        QTest::newRow("system order kept, first usable first")
            << Interfaces{iface("wlan0", true, macB, {"192.168.1.20"}), iface("eth0", true, macA, {"10.1.2.3"})}
            << QStringList{"192.168.1.20", "10.1.2.3"} << QStringList{macB, macA};
    }

    void filter()
    {
        QFETCH(Interfaces, interfaces);
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, hardware);

        QCOMPARE(netinfo::localNetInfo(interfaces, netinfo::Ipv4Addresses), addresses);
        QCOMPARE(netinfo::localNetInfo(interfaces, netinfo::HardwareAddresses), hardware);
    }

    void otherKindsGiveUnknown_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("2") << 2;
        QTest::newRow("-1") << -1;
    }

    void otherKindsGiveUnknown()
    {
        QFETCH(int, kind);
        const Interfaces usable{iface("eth0", true, macA, {"10.1.2.3"})};
        QCOMPARE(netinfo::localNetInfo(usable, kind), QStringList{"???"});
    }

    // The tests run in a namespace of their own with only loopback up: nothing qualifies there.
    void systemListFeedsTheFilter()
    {
        const Interfaces system = netinfo::systemInterfaces();
        QVERIFY(!system.isEmpty());
        const QStringList addresses = netinfo::localNetInfo(system, netinfo::Ipv4Addresses);
        QVERIFY(!addresses.isEmpty());
        QCOMPARE(netinfo::localNetInfo(system, netinfo::HardwareAddresses).size(), addresses.size());
        bool onlyLoopback = true;
        for (const Interface &i : system)
            for (const QHostAddress &a : i.addresses)
                onlyLoopback = onlyLoopback && a.isLoopback();
        if (onlyLoopback)
            QCOMPARE(addresses, QStringList{"???"});
    }
};

TOLVANE_TEST_MAIN(TestNetInfo)
#include "tst_netinfo.moc"
