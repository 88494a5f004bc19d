// The UDP listener: every datagram on its port becomes one record.
#include "myudprx.h"
#include "testenv.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTime>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

class TestMyUdpRX : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MyUdpRX> listener;
    std::unique_ptr<QSignalSpy> records;
    QUdpSocket sender;

    void send(const QByteArray &payload);
    QString record(int i) const { return records->at(i).at(0).toString(); }

private slots:
    void init();
    void cleanup();

    void recordPerDatagram_data();
    void recordPerDatagram();
    void severalPendingDatagramsGiveRecordsInOrder();
    void bindsThePortSharedWithOthers();
};

void TestMyUdpRX::init()
{
    listener.reset(new MyUdpRX(35070));
    records.reset(new QSignalSpy(listener.get(), SIGNAL(sigSendUDPdata(QString))));
}

void TestMyUdpRX::cleanup()
{
    records.reset();
    listener.reset();
}

void TestMyUdpRX::send(const QByteArray &payload)
{
    QCOMPARE(sender.writeDatagram(payload, QHostAddress::LocalHost, 35070), qint64(payload.size()));
}

void TestMyUdpRX::recordPerDatagram_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("payload");
    QTest::newRow("probe") << QByteArray("?ZZ?") << "?ZZ?";
    QTest::newRow("empty datagram ends the record after the time") << QByteArray() << "";
    QTest::newRow("zero byte ends the payload") << QByteArray("abc\0?ZZ?", 8) << "abc";
    QTest::newRow("place markers stay as sent") << QByteArray("%1 %2 %3 %L1") << "%1 %2 %3 %L1";
    QTest::newRow("separators in the payload stay") << QByteArray("a=1;b=2;") << "a=1;b=2;";
    QTest::newRow("line ends and blanks are kept") << QByteArray(" x\r\n") << " x\r\n";
    QTest::newRow("invalid UTF-8 becomes replacement characters")
        << QByteArray("A\xff\xfe" "B") << QString::fromUtf8("A\xef\xbf\xbd\xef\xbf\xbd" "B");
    QTest::newRow("UTF-8 decoded") << QByteArray("caf\xc3\xa9") << QString::fromUtf8("caf\xc3\xa9");
}

void TestMyUdpRX::recordPerDatagram()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, payload);
    const QTime before = QTime::currentTime();
    send(datagram);
    QTRY_COMPARE(records->count(), 1);
    const QTime after = QTime::currentTime();

    static const QRegularExpression form(
        QStringLiteral("\\Audp=([^;]*);time=(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d);(.*)\\z"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = form.match(record(0));
    QVERIFY2(m.hasMatch(), qPrintable(record(0)));
    // Whatever form the socket reports the loopback sender in, it is the loopback address.
    QVERIFY2(QHostAddress(m.captured(1)).isEqual(QHostAddress::LocalHost, QHostAddress::ConvertV4MappedToIPv4),
             qPrintable(m.captured(1)));
    // Local time of day, read between sending and seeing the record (a midnight turn aside).
    const QTime at = QTime::fromString(m.captured(2), QStringLiteral("hh:mm:ss.zzz"));
    QVERIFY(at.isValid());
    if (before <= after)
        QVERIFY2(at >= before.addMSecs(-1) && at <= after, qPrintable(m.captured(2)));
    QCOMPARE(m.captured(3), payload);
}

void TestMyUdpRX::severalPendingDatagramsGiveRecordsInOrder()
{
    // All sent before the listener gets a chance to read: one notification finds them all pending.
    for (int i = 0; i < 5; ++i)
        send(QByteArray("n=") + QByteArray::number(i));
    QTRY_COMPARE(records->count(), 5);
    for (int i = 0; i < 5; ++i)
        QVERIFY2(record(i).endsWith(QStringLiteral(";n=%1").arg(i)), qPrintable(record(i)));
}

void TestMyUdpRX::bindsThePortSharedWithOthers()
{
    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress::AnyIPv4, 35070, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
    QUdpSocket exclusive;
    QVERIFY(!exclusive.bind(QHostAddress::AnyIPv4, 35070, QAbstractSocket::DontShareAddress));
}

TOLVANE_TEST_MAIN(TestMyUdpRX)
#include "tst_myudprx.moc"
