// The status record as JSON, metrics and page, and where its port comes from.
#include "core/bridgestatus.h"
#include "core/statusconfig.h"
#include "support/statusfixture.h"

#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(bridgestatus::BridgeStatus)

class TestStatus : public QObject
{
    Q_OBJECT

private slots:
    void renderings_data()
    {
        QTest::addColumn<bridgestatus::BridgeStatus>("status");
        QTest::addColumn<QString>("golden"); // tests/data/NAME.json and NAME.prom
        QTest::newRow("open, client connected") << statusfixture::open() << "status-open";
        QTest::newRow("waiting, nothing yet, backslashes") << statusfixture::waiting() << "status-waiting";
    }
    // TOLVANE_UPDATE_GOLDEN=1 writes the files instead; review the diff.
    void renderings()
    {
        QFETCH(bridgestatus::BridgeStatus, status);
        QFETCH(QString, golden);
        const QByteArray rendered[] = {bridgestatus::toJson(status) + '\n', bridgestatus::toMetrics(status)};
        const QString names[] = {golden + ".json", golden + ".prom"};
        for (int i = 0; i < 2; ++i) {
            QFile file(QStringLiteral(TOLVANE_TEST_DATA_DIR "/") + names[i]);
            if (qEnvironmentVariableIsSet("TOLVANE_UPDATE_GOLDEN")) {
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(rendered[i]);
                continue;
            }
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
            QCOMPARE(QString::fromUtf8(rendered[i]), QString::fromUtf8(file.readAll()));
        }
    }

    // Text from the network (a client's name, a line of traffic) must not become markup or script.
    void pageKeepsTextAsText()
    {
        bridgestatus::BridgeStatus s = statusfixture::open();
        s.currentClient = QStringLiteral("</script><script>alert(1)</script>");
        const QByteArray page = bridgestatus::toPage(s, {QStringLiteral("TCP> op <b>x</b> & y")});
        QCOMPARE(page.count("</script>"), 1);
        QVERIFY(page.contains("TCP&gt; op &lt;b&gt;x&lt;/b&gt; &amp; y"));
        QVERIFY2(!page.contains("src=") && !page.contains("href=") && !page.contains("url("), "external asset");
        QVERIFY(!bridgestatus::toPage(s, {}).contains("id=\"traffic\""));
    }

    void bindAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // "any" for every address, "" for refused
        QTest::newRow("not given") << ""
                                   << "any";
        QTest::newRow("IPv4") << "10.77.0.1"
                              << "10.77.0.1";
        QTest::newRow("IPv6") << "fd00::1"
                              << "fd00::1";
        QTest::newRow("IPv4 any") << "0.0.0.0"
                                  << "0.0.0.0";
        QTest::newRow("name") << "localhost"
                              << "";
        QTest::newRow("with port") << "10.77.0.1:7080"
                                   << "";
    }
    void bindAddress()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        const std::optional<QHostAddress> got = statusconfig::bindAddress(text);
        QCOMPARE(!got ? QString() : *got == QHostAddress::Any ? QStringLiteral("any") : got->toString(), address);
    }

    void portFromIni_data()
    {
        QTest::addColumn<QByteArray>("ini"); // null: no file
        QTest::addColumn<int>("port");       // 0: none
        QTest::newRow("set") << QByteArray("[Default]\nPort=x\n[Status]\nStatusPort=9100\n") << 9100;
        QTest::newRow("blanks around") << QByteArray("[Status]\nStatusPort = 9100 \n") << 9100;
        QTest::newRow("no file") << QByteArray() << 0;
        QTest::newRow("no section") << QByteArray("[Default]\nStatusPort=9100\n") << 0;
        QTest::newRow("empty") << QByteArray("[Status]\nStatusPort=\n") << 0;
        QTest::newRow("zero") << QByteArray("[Status]\nStatusPort=0\n") << 0;
        QTest::newRow("too big") << QByteArray("[Status]\nStatusPort=65536\n") << 0;
        QTest::newRow("sign") << QByteArray("[Status]\nStatusPort=+80\n") << 0;
        QTest::newRow("word") << QByteArray("[Status]\nStatusPort=on\n") << 0;
    }
    void portFromIni()
    {
        QFETCH(QByteArray, ini);
        QFETCH(int, port);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tolvane.ini"));
        if (!ini.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ini);
        }
        QCOMPARE(int(statusconfig::portFromIni(path).value_or(0)), port);
    }
};

QTEST_GUILESS_MAIN(TestStatus)
#include "tst_status.moc"
