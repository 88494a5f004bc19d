// The UDP listener: every datagram on its port becomes one record.
#include "net/myudprx.h"
#include "core/product.h"
#include "tests/support/testenv.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTime>
#include <QUdpSocket>
#include <QtTest>

class TestMyUdpRX : public QObject
{
    Q_OBJECT

private slots:
    // All sent before the listener gets to read: one record each, in order. A payload ends at its first
    // zero byte; an empty one leaves the record ending after the time.
    void recordPerDatagram()
    {
        const QList<QByteArray> datagrams{"n=0", "", QByteArray("abc\0?ZZ?", 8), "n=3"};
        const QStringList payloads{"n=0", "", "abc", "n=3"};
        MyUdpRX listener(product::udpRxPort);
        QSignalSpy records(&listener, SIGNAL(sigSendUDPdata(QString)));
        QUdpSocket sender;
        const QTime before = QTime::currentTime();
        for (const QByteArray &d : datagrams)
            QCOMPARE(sender.writeDatagram(d, QHostAddress::LocalHost, product::udpRxPort), qint64(d.size()));
        QTRY_COMPARE(records.count(), payloads.size());
        const QTime after = QTime::currentTime();

        static const QRegularExpression form(QStringLiteral("\\Audp=([^;]*);time=(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d);(.*)\\z"),
                                             QRegularExpression::DotMatchesEverythingOption);
        for (int i = 0; i < payloads.size(); ++i) {
            const QRegularExpressionMatch m = form.match(records.at(i).at(0).toString());
            QVERIFY2(m.hasMatch(), qPrintable(records.at(i).at(0).toString()));
            QVERIFY(QHostAddress(m.captured(1)).isEqual(QHostAddress::LocalHost, QHostAddress::ConvertV4MappedToIPv4));
            // Local time of day, between sending and seeing the record (a midnight turn aside).
            const QTime at = QTime::fromString(m.captured(2), QStringLiteral("hh:mm:ss.zzz"));
            QVERIFY2(at.isValid() && (after < before || (at >= before.addMSecs(-1) && at <= after)), qPrintable(m.captured(2)));
            QCOMPARE(m.captured(3), payloads.at(i));
        }
    }
};

TOLVANE_TEST_MAIN(TestMyUdpRX)
#include "tst_myudprx.moc"
