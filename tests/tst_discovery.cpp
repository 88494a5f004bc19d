// Where a discovery reply goes; the reply's bytes are checked end to end (e2e_discovery.sh).
#include "core/discovery.h"

#include <QtTest>

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void replyDestination()
    {
        QCOMPARE(discovery::destination(QStringLiteral("192.168.1.37"), false), QStringLiteral("255.255.255.255"));
        // Windows 10: the last part replaced, whatever the netmask; the text as it is without a dot.
        QCOMPARE(discovery::destination(QStringLiteral("10.20.30.40"), true), QStringLiteral("10.20.30.255"));
        QCOMPARE(discovery::destination(QStringLiteral("???"), true), QStringLiteral("???.255"));
    }
};

QTEST_APPLESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
