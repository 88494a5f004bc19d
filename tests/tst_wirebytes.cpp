// Rules for bytes between machines: where a TCP reply ends, the escaped form the tools print and read
// back, and the discovery reply: where it goes, which interface it names, how it reads back.
#include "core/discovery.h"
#include "core/logpane.h"
#include "core/netinfo.h"
#include "core/reply.h"
#include "core/text.h"

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

class TestWireBytes : public QObject
{
    Q_OBJECT

private slots:
    void replyEnds_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("quiet");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("left");
        const QByteArray big(reply::maxBytes, 'x');
        QTest::newRow("next line stays") << QByteArray("OP A=1\r\nOP B") << false << QByteArray("OP A=1\r\n")
                                         << QByteArray("OP B");
        QTest::newRow("bare LF first") << QByteArray("\nrest") << false << QByteArray("\n") << QByteArray("rest");
        QTest::newRow("no line end yet") << QByteArray("OP MODEL=KT5520M") << false << QByteArray()
                                         << QByteArray("OP MODEL=KT5520M");
        QTest::newRow("no line end, quiet")
            << QByteArray("OP MODEL=KT5520M") << true << QByteArray("OP MODEL=KT5520M") << QByteArray();
        QTest::newRow("nothing, quiet") << QByteArray() << true << QByteArray() << QByteArray();
        QTest::newRow("NUL and invalid UTF-8 kept")
            << QByteArray("\0\xff\xc3(\n", 5) << false << QByteArray("\0\xff\xc3(\n", 5) << QByteArray();
        QTest::newRow("longest without line end") << big + "y" << false << big << QByteArray("y");
        QTest::newRow("line end just inside")
            << big.left(reply::maxBytes - 1) + "\nz" << false << big.left(reply::maxBytes - 1) + "\n"
            << QByteArray("z");
        QTest::newRow("line end just outside") << big + "\n" << false << big << QByteArray("\n");
    }
    void replyEnds()
    {
        QFETCH(QByteArray, received);
        QFETCH(bool, quiet);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, left);
        QCOMPARE(reply::take(&received, quiet), reply);
        QCOMPARE(received, left);
    }

    // The escaped form the tools print and read back; a null byte array: the text is refused.
    void escape_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("printable") << QByteArray("OP MODEL=KT5520M") << QStringLiteral("OP MODEL=KT5520M");
        QTest::newRow("named escapes") << QByteArray("\\\0\t\r\n", 5) << QStringLiteral("\\\\\\0\\t\\r\\n");
        QTest::newRow("other bytes as two hex digits")
            << QByteArray("\x01\x7f\x80\xff") << QStringLiteral("\\x01\\x7f\\x80\\xff");
        QTest::newRow("invalid UTF-8") << QByteArray("\xc3(") << QStringLiteral("\\xc3(");
        QTest::newRow("refused: one hex digit then text") << QByteArray() << QStringLiteral("\\x5z");
        QTest::newRow("refused: not hex") << QByteArray() << QStringLiteral("\\xg0");
        QTest::newRow("refused: unknown escape") << QByteArray() << QStringLiteral("\\q");
        QTest::newRow("refused: backslash at the end") << QByteArray() << QStringLiteral("a\\");
    }
    void escape()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, escaped);
        QByteArray back("untouched");
        QCOMPARE(text::unescapeBytes(escaped, &back), !bytes.isNull());
        QCOMPARE(back, bytes.isNull() ? QByteArray("untouched") : bytes);
        if (!bytes.isNull())
            QCOMPARE(text::escapeBytes(bytes), escaped);
    }

    // What a pane shows of what came: all of it up to its limit, else its start and how much is left out.
    void paneShowsAtMost_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("kept");
        const int max = logpane::maxShownChars;
        const QString full(max, QLatin1Char('x'));
        QTest::newRow("at the limit, whole") << full << max;
        QTest::newRow("one more, cut") << full + QStringLiteral("y") << max;
        QTest::newRow("a megabyte") << QString(1 << 20, QLatin1Char('z')) << max;
        QTest::newRow("never inside a tag") << full.left(max - 3) + QStringLiteral("<font color=red>x") << max - 3;
        QTest::newRow("after a whole tag") << full.left(max - 3) + QStringLiteral("<b>x") << max;
    }
    void paneShowsAtMost()
    {
        QFETCH(QString, entry);
        QFETCH(int, kept);
        const QString shown = logpane::shown(entry);
        QVERIFY(shown.startsWith(entry.left(kept)));
        const QString rest = shown.mid(kept);
        if (kept == entry.size())
            QCOMPARE(rest, QString());
        else
            QCOMPARE(rest, QStringLiteral(" \u2026 (%1 more characters not shown)").arg(entry.size() - kept));
    }

    void replyDestination()
    {
        QCOMPARE(discovery::destination(QStringLiteral("192.168.1.37"), false), QStringLiteral("255.255.255.255"));
        // Windows 10: the last part replaced, whatever the netmask; the text as it is without a dot.
        QCOMPARE(discovery::destination(QStringLiteral("10.20.30.40"), true), QStringLiteral("10.20.30.255"));
        QCOMPARE(discovery::destination(QStringLiteral("???"), true), QStringLiteral("???.255"));
    }

    void namedInterface_data()
    {
        QTest::addColumn<Interfaces>("interfaces");
        QTest::addColumn<QStringList>("addresses"); // kind 0
        QTest::addColumn<QStringList>("hardware");  // kind 1
        const QStringList none{QStringLiteral("???")};
        QTest::newRow("down interface skipped") << Interfaces{iface("eth0", false, macA, {"10.1.2.3"})} << none << none;
        QTest::newRow("VM anywhere in the name skipped")
            << Interfaces{iface("eth0-VM", true, macA, {"10.1.2.3"}), iface("eth1", true, macB, {"10.1.2.4"})}
            << QStringList{"10.1.2.4"} << QStringList{macB};
        QTest::newRow("lower-case vm is not VM") << Interfaces{iface("vmnet1", true, macA, {"172.16.5.1"})}
                                                 << QStringList{"172.16.5.1"} << QStringList{macA};
        QTest::newRow("loopback and IPv6 skipped")
            << Interfaces{iface("lo", true, macB, {"127.0.0.1", "::1"}), iface("eth0", true, macA, {"fe80::1"})} << none
            << none;
        QTest::newRow("two IPv4 on one interface give the MAC twice, system order kept")
            << Interfaces{iface("wlan0", true, macB, {"192.168.1.20"}),
                          iface("eth0", true, macA, {"10.1.2.3", "127.0.0.2", "10.9.8.7"})}
            << QStringList{"192.168.1.20", "10.1.2.3", "10.9.8.7"} << QStringList{macB, macA, macA};
    }

    void namedInterface()
    {
        QFETCH(Interfaces, interfaces);
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, hardware);
        QCOMPARE(netinfo::localNetInfo(interfaces, netinfo::Ipv4Addresses), addresses);
        QCOMPARE(netinfo::localNetInfo(interfaces, netinfo::HardwareAddresses), hardware);
    }

    void readDiscoveryReply_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("fields"); // ip|mac|model|serial|counter, empty when unreadable
        QTest::newRow("the bridge's own")
            << discovery::reply(QStringLiteral("10.0.0.5"), QStringLiteral("02:00:00:00:00:01"), 7)
            << QStringLiteral("10.0.0.5|02:00:00:00:00:01|KT5520M|Tolvane-7|7");
        QTest::newRow("no interface") << QByteArray("ip=???;mac=???;model=KT5520M;serial=Tolvane-0;")
                                      << QStringLiteral("???|???|KT5520M|Tolvane-0|0");
        QTest::newRow("counter after the last dash")
            << QByteArray("ip=a;mac=b;model=c;serial=X-Y-12;") << QStringLiteral("a|b|c|X-Y-12|12");
        QTest::newRow("negative counter")
            << QByteArray("ip=a;mac=b;model=c;serial=X--3;") << QStringLiteral("a|b|c|X--3|-3");
        QTest::newRow("no final ;") << QByteArray("ip=a;mac=b;model=c;serial=X-1") << QString();
        QTest::newRow("counter too big") << QByteArray("ip=a;mac=b;model=c;serial=X-99999999999999999999;")
                                         << QString();
    }
    void readDiscoveryReply()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, fields);
        discovery::Reply r;
        const bool read = discovery::parseReply(bytes, &r);
        const QStringList got = {r.ip, r.mac, r.model, r.serial, QString::number(r.counter)};
        QCOMPARE(read ? got.join(QLatin1Char('|')) : QString(), fields);
    }
};

QTEST_APPLESS_MAIN(TestWireBytes)
#include "tst_wirebytes.moc"
