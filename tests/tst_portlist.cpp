#include "core/portlist.h"

#include <QtTest>

// What a listed serial port carries, and how TOLVANE_SERIAL_PORTS names the ports.
class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    void itemDataFillsGapsWithNA_data();
    void itemDataFillsGapsWithNA();
    void overrideEntriesBecomePorts_data();
    void overrideEntriesBecomePorts();
};

Q_DECLARE_METATYPE(portlist::Port)

void TestPortList::itemDataFillsGapsWithNA_data()
{
    QTest::addColumn<portlist::Port>("port");
    QTest::addColumn<QStringList>("data");

    portlist::Port full;
    full.name = "ttyUSB0";
    full.description = "USB-Serial Controller";
    full.manufacturer = "FTDI";
    full.serialNumber = "A50285BI";
    full.systemLocation = "/dev/ttyUSB0";
    full.vendorIdentifier = 0x0403;
    full.productIdentifier = 0x6001;
    QTest::newRow("everything reported")
        << full
        << QStringList{"ttyUSB0", "USB-Serial Controller", "FTDI", "A50285BI", "/dev/ttyUSB0", "403", "6001"};

    portlist::Port bare;
    bare.name = "COM1";
    bare.systemLocation = "\\\\.\\COM1";
    QTest::newRow("nothing but name and location")
        << bare << QStringList{"COM1", "N/A", "N/A", "N/A", "\\\\.\\COM1", "N/A", "N/A"};

    portlist::Port hex = bare;
    hex.vendorIdentifier = 0xABCD;
    hex.productIdentifier = 0x000f;
    QTest::newRow("identifiers in lowercase hex without leading zeros")
        << hex << QStringList{"COM1", "N/A", "N/A", "N/A", "\\\\.\\COM1", "abcd", "f"};

    portlist::Port emptyLocation;
    emptyLocation.name = "x";
    QTest::newRow("name and location are never N/A")
        << emptyLocation << QStringList{"x", "N/A", "N/A", "N/A", "", "N/A", "N/A"};
}

void TestPortList::itemDataFillsGapsWithNA()
{
    QFETCH(portlist::Port, port);
    QFETCH(QStringList, data);
    QCOMPARE(portlist::itemData(port), data);
}

void TestPortList::overrideEntriesBecomePorts_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("empty means no port") << "" << QStringList();
    QTest::newRow("one path") << "/tmp/fakeA" << QStringList{"/tmp/fakeA"};
    QTest::newRow("order kept") << "/tmp/fakeB,/tmp/fakeA" << QStringList{"/tmp/fakeB", "/tmp/fakeA"};
    QTest::newRow("blanks and empty entries dropped")
        << " /tmp/fakeA , ,/tmp/fakeB," << QStringList{"/tmp/fakeA", "/tmp/fakeB"};
    QTest::newRow("only separators") << ",," << QStringList();
}

void TestPortList::overrideEntriesBecomePorts()
{
    QFETCH(QString, value);
    QFETCH(QStringList, names);

    const QList<portlist::Port> ports = portlist::fromOverride(value);
    QStringList got;
    for (const portlist::Port &port : ports) {
        got << port.name;
        // Everything but name and location is unknown for a listed path.
        QCOMPARE(port.systemLocation, port.name);
        QVERIFY(port.description.isEmpty());
        QVERIFY(port.manufacturer.isEmpty());
        QVERIFY(port.serialNumber.isEmpty());
        QCOMPARE(port.vendorIdentifier, quint16(0));
        QCOMPARE(port.productIdentifier, quint16(0));
    }
    QCOMPARE(got, names);
}

QTEST_APPLESS_MAIN(TestPortList)
#include "tst_portlist.moc"
