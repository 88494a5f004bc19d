// What a listed serial port carries, and how TOLVANE_SERIAL_PORTS names the ports.
#include "core/portlist.h"

#include <QtTest>

class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    void itemDataFillsGapsWithNA()
    {
        portlist::Port port;
        port.name = "COM1";
        port.systemLocation = "\\\\.\\COM1";
        port.manufacturer = "FTDI";
        port.vendorIdentifier = 0xABCD;
        port.productIdentifier = 0x000f;
        QCOMPARE(portlist::itemData(port), (QStringList{"COM1", "N/A", "FTDI", "N/A", "\\\\.\\COM1", "abcd", "f"}));
    }

    void overrideDropsBlanksAndEmptyEntries()
    {
        const QList<portlist::Port> ports = portlist::fromOverride(QStringLiteral(" /tmp/fakeB , ,/tmp/fakeA,"));
        QCOMPARE(ports.size(), 2);
        QCOMPARE(ports.at(0).name, QStringLiteral("/tmp/fakeB"));
        QCOMPARE(ports.at(1).systemLocation, QStringLiteral("/tmp/fakeA"));
    }
};

QTEST_APPLESS_MAIN(TestPortList)
#include "tst_portlist.moc"
