// Where the bridge's Tolvane.ini is, as the tools find it, and the device its port name opens.
#include "core/portlist.h"
#include "core/settingsfile.h"

#include <QtTest>

class TestSettingsfile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    }

    // The tool asks for the bridge's file and then goes on under its own name: its own settings,
    // messages and paths must not move to the bridge's folder.
    void bridgePathKeepsTheToolsName_data()
    {
        QTest::addColumn<QString>("ownName"); // empty: the name Qt takes from the executable
        QTest::newRow("name from the executable") << QString();
        QTest::newRow("name set by the tool") << QStringLiteral("tolvane-probe");
    }
    void bridgePathKeepsTheToolsName()
    {
        QFETCH(QString, ownName);
        QCoreApplication::setApplicationName(ownName);
        const QString before = QCoreApplication::applicationName();
        const QString ownPath = settingsfile::path();

        QCOMPARE(settingsfile::bridgePath(), m_home.path() + QStringLiteral("/tolvane/Tolvane.ini"));
        QCOMPARE(QCoreApplication::applicationName(), before);
        QCOMPARE(settingsfile::path(), ownPath);
        QVERIFY(ownPath != settingsfile::bridgePath());
    }

    // The unattended bridge looks for this file before it tries an open, and the doctor checks it.
    void portNameOpensDevice_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("device");
        QTest::newRow("a name as the port list shows it") << QString("ttyV0") << QString("/dev/ttyV0");
        QTest::newRow("a by-id link stays the link")
            << QString("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0")
            << QString("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
        QTest::newRow("a path under /dev without it")
            << QString("serial/by-id/usb-x") << QString("/dev/serial/by-id/usb-x");
        QTest::newRow("relative to here") << QString("./ttyV0") << QString("./ttyV0");
        QTest::newRow("relative to the parent") << QString("../ttyV0") << QString("../ttyV0");
    }
    void portNameOpensDevice()
    {
        QFETCH(QString, port);
        QFETCH(QString, device);
        QCOMPARE(portlist::devicePath(port), device);
    }
};

QTEST_GUILESS_MAIN(TestSettingsfile)
#include "tst_settingsfile.moc"
