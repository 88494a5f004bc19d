// Discovery rules: what counts as a probe, the reply, where it goes, and how the probe tool reads it.
#include "core/datagram.h"
#include "core/discovery.h"
#include "core/text.h"
#include "testenv.h"

#include <QtTest>

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void probeIsRecognised_data();
    void probeIsRecognised();
    void replyBytes_data();
    void replyBytes();
    void replyDestination_data();
    void replyDestination();
    void windows10Only_data();
    void windows10Only();
    void replyReadBack_data();
    void replyReadBack();
    void escapedBytes_data();
    void escapedBytes();
    void badEscapesRejected_data();
    void badEscapesRejected();
};

void TestDiscovery::probeIsRecognised_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("probe");
    QTest::newRow("exactly the probe") << QByteArray("?ZZ?") << true;
    QTest::newRow("text around it") << QByteArray("hello ?ZZ? there") << true;
    QTest::newRow("twice") << QByteArray("?ZZ??ZZ?") << true;
    QTest::newRow("lower case") << QByteArray("?zz?") << false;
    QTest::newRow("mixed case") << QByteArray("?Zz?") << false;
    QTest::newRow("incomplete") << QByteArray("?ZZ") << false;
    QTest::newRow("after a zero byte") << QByteArray("x\0?ZZ?", 6) << false;
    QTest::newRow("before a zero byte") << QByteArray("?ZZ?\0x", 6) << true;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestDiscovery::probeIsRecognised()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, probe);
    // As the responder sees it: inside a whole datagram record.
    const QString record = datagram::record(QStringLiteral("10.0.0.2"), QTime(12, 0), payload);
    QCOMPARE(discovery::isProbe(record), probe);
}

void TestDiscovery::replyBytes_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("first reply") << "192.168.1.37" << "00:1A:2B:3C:4D:5E" << 0
                                 << QByteArray("ip=192.168.1.37;mac=00:1A:2B:3C:4D:5E;model=KT5520M;serial=Tolvane-0;");
    QTest::newRow("no leading zeros or padding") << "10.0.0.1" << "AA:BB:CC:DD:EE:FF" << 1234
                                                 << QByteArray("ip=10.0.0.1;mac=AA:BB:CC:DD:EE:FF;model=KT5520M;serial=Tolvane-1234;");
    QTest::newRow("no usable interface") << "???" << "???" << 7
                                         << QByteArray("ip=???;mac=???;model=KT5520M;serial=Tolvane-7;");
}

void TestDiscovery::replyBytes()
{
    QFETCH(QString, ip);
    QFETCH(QString, mac);
    QFETCH(int, count);
    QFETCH(QByteArray, bytes);
    QCOMPARE(discovery::reply(ip, mac, count), bytes);
}

void TestDiscovery::replyDestination_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("windows10");
    QTest::addColumn<QString>("destination");
    QTest::newRow("elsewhere: limited broadcast") << "192.168.1.37" << false << "255.255.255.255";
    QTest::newRow("elsewhere, no address") << "???" << false << "255.255.255.255";
    QTest::newRow("windows 10: last part replaced") << "192.168.1.37" << true << "192.168.1.255";
    QTest::newRow("windows 10: netmask not consulted") << "10.20.30.40" << true << "10.20.30.255";
    QTest::newRow("windows 10, no address") << "???" << true << "???.255";
    QTest::newRow("windows 10, no dot") << "abc" << true << "abc.255";
}

void TestDiscovery::replyDestination()
{
    QFETCH(QString, ip);
    QFETCH(bool, windows10);
    QFETCH(QString, destination);
    QCOMPARE(discovery::destination(ip, windows10), destination);
}

void TestDiscovery::windows10Only_data()
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("windows10");
    QTest::newRow("Windows 10") << int(QSysInfo::WV_WINDOWS10) << true;
    QTest::newRow("Windows 8.1") << int(QSysInfo::WV_WINDOWS8_1) << false;
    QTest::newRow("Windows 7") << int(QSysInfo::WV_WINDOWS7) << false;
    QTest::newRow("not Windows") << int(QSysInfo::WV_None) << false;
    QTest::newRow("unknown later value") << int(QSysInfo::WV_WINDOWS10) + 1 << false;
    QT_WARNING_POP
}

void TestDiscovery::windows10Only()
{
    QFETCH(int, version);
    QFETCH(bool, windows10);
    QCOMPARE(discovery::isWindows10(version), windows10);
}

void TestDiscovery::replyReadBack_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<qint64>("counter");
    QTest::newRow("a reply") << discovery::reply(QStringLiteral("10.77.0.1"), QStringLiteral("02:00:00:00:00:01"), 42)
                             << true << "10.77.0.1" << "02:00:00:00:00:01" << qint64(42);
    QTest::newRow("no usable interface") << discovery::reply(QStringLiteral("???"), QStringLiteral("???"), 0) << true
                                         << "???" << "???" << qint64(0);
    QTest::newRow("counter past int wrapped negative")
        << QByteArray("ip=1.2.3.4;mac=x;model=KT5520M;serial=Tolvane--2147483648;") << true << "1.2.3.4" << "x"
        << qint64(-2147483648LL);
    QTest::newRow("missing final separator") << QByteArray("ip=1.2.3.4;mac=x;model=KT5520M;serial=Tolvane-1") << false
                                            << "" << "" << qint64(-1);
    QTest::newRow("no counter") << QByteArray("ip=1.2.3.4;mac=x;model=KT5520M;serial=Tolvane;") << false << "" << ""
                                << qint64(-1);
    QTest::newRow("fields out of order") << QByteArray("mac=x;ip=1.2.3.4;model=KT5520M;serial=Tolvane-1;") << false
                                         << "" << "" << qint64(-1);
    QTest::newRow("the probe itself") << QByteArray("?ZZ?") << false << "" << "" << qint64(-1);
}

void TestDiscovery::replyReadBack()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, readable);
    QFETCH(QString, ip);
    QFETCH(QString, mac);
    QFETCH(qint64, counter);
    discovery::Reply r;
    QCOMPARE(discovery::parseReply(bytes, &r), readable);
    QCOMPARE(r.ip, ip);
    QCOMPARE(r.mac, mac);
    QCOMPARE(r.counter, counter);
    if (readable)
        QCOMPARE(r.model, QStringLiteral("KT5520M"));
}

void TestDiscovery::escapedBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("printable as is") << QByteArray("OP MODEL=KT5520M") << "OP MODEL=KT5520M";
    QTest::newRow("line ends and tab") << QByteArray("a\r\n\tb") << "a\\r\\n\\tb";
    QTest::newRow("zero byte") << QByteArray("a\0b", 3) << "a\\0b";
    QTest::newRow("backslash doubled") << QByteArray("a\\0") << "a\\\\0";
    QTest::newRow("other bytes in hex") << QByteArray("\x01\x7f\x80\xff") << "\\x01\\x7f\\x80\\xff";
    QTest::newRow("zero then digits") << QByteArray("\0" "12", 3) << "\\012";
}

void TestDiscovery::escapedBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(text::escapeBytes(bytes), shown);
    QByteArray back;
    QVERIFY(text::unescapeBytes(shown, &back));
    QCOMPARE(back, bytes);
}

void TestDiscovery::badEscapesRejected_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("trailing backslash") << "abc\\";
    QTest::newRow("unknown letter") << "\\q";
    QTest::newRow("one hex digit") << "\\x4";
    QTest::newRow("not hex") << "\\xg0";
}

void TestDiscovery::badEscapesRejected()
{
    QFETCH(QString, text);
    QByteArray out("untouched");
    QVERIFY(!text::unescapeBytes(text, &out));
    QCOMPARE(out, QByteArray("untouched"));
}

TOLVANE_TEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
