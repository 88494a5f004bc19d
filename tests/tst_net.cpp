// The network side with real sockets on loopback: the TCP server and the UDP listener.
#include "net/mytcpserver.h"
#include "net/myudprx.h"
#include "core/product.h"
#include "tests/support/testenv.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QUdpSocket>

#include <algorithm>
#include <memory>

class TestNet : public QObject
{
    Q_OBJECT

    std::vector<std::unique_ptr<QTcpSocket>> clients;

    // The sockets the server holds, open or closed, that are not yet freed.
    static int liveSockets(const MyServer &server) { return server.findChildren<QTcpSocket *>().size(); }
    // A client that the server has accepted, i.e. its current client.
    QTcpSocket *connectClient(MyServer &server)
    {
        clients.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket *client = clients.back().get();
        client->connectToHost(QHostAddress::LocalHost, product::tcpPort);
        const auto accepted = [&] {
            const auto sockets = server.findChildren<QTcpSocket *>();
            return std::any_of(sockets.begin(), sockets.end(),
                               [&](QTcpSocket *s) { return s->peerPort() == client->localPort(); });
        };
        if (!client->waitForConnected(testenv::patience) || !QTest::qWaitFor(accepted, testenv::patience))
            return nullptr;
        return client;
    }
    // What a client has received once at least `size` bytes are there.
    static QByteArray readFrom(QTcpSocket *client, int size)
    {
        (void)QTest::qWaitFor([&] { return client->bytesAvailable() >= size; }, testenv::patience);
        return client->readAll();
    }

private slots:
    void cleanup() { clients.clear(); }

    // Only the newest client is served, and the disconnect of any client closes it.
    void tcpServesTheNewestClient()
    {
        MyServer server;
        QStringList texts; // every text the server emitted
        connect(&server, &MyServer::sigSendTCPdata, this, [&](const QString &text) { texts << text; });
        server.slotWriteTCP("OP EARLY=1\r\n"); // no client yet: dropped
        QTcpSocket *first = connectClient(server);
        QVERIFY(first);
        // One text per read, whitespace-simplified: lines joined by one blank, white space alone empty.
        first->write("op model ?\r\nop ser.no ?\r\n");
        QTRY_COMPARE(texts, QStringList{"op model ? op ser.no ?"});
        first->write(" \t\r\n");
        QTRY_COMPARE(texts, (QStringList{"op model ? op ser.no ?", ""}));
        texts.clear();

        QTcpSocket *second = connectClient(server);
        QVERIFY(second);
        static const char bytes[] = "OP STATUS=1\r\n\0\x01\xff tail";
        const QByteArray reply(bytes, sizeof bytes - 1);
        server.slotWriteTCP(reply);
        QCOMPARE(readFrom(second, reply.size()), reply);
        QCOMPARE(first->bytesAvailable(), qint64(0));

        // The first client's notification reads the current client, which has nothing pending.
        first->write("op from first ?\r\n");
        QTRY_COMPARE(texts, QStringList{QString()});
        second->write("op from second ?\r\n");
        QTRY_COMPARE(texts, (QStringList{QString(), "op from second ?"}));

        first->disconnectFromHost();
        QTRY_COMPARE(second->state(), QAbstractSocket::UnconnectedState);
        // Until someone connects again, replies go nowhere; nothing is kept for the next client.
        server.slotWriteTCP("OP LOST=1\r\n");
        QTcpSocket *third = connectClient(server);
        QVERIFY(third);
        server.slotWriteTCP("OP FOUND=1\r\n");
        QCOMPARE(readFrom(third, 12), QByteArray("OP FOUND=1\r\n"));
    }

    // Ended connections are freed, whoever ended them, and the freed current client is never touched.
    void tcpFreesEndedConnections_data()
    {
        QTest::addColumn<bool>("olderCloses");
        QTest::newRow("the current client closes") << false;
        QTest::newRow("an older client closes the current one") << true;
    }
    void tcpFreesEndedConnections()
    {
        QFETCH(bool, olderCloses);
        MyServer server;
        QStringList texts;
        connect(&server, &MyServer::sigSendTCPdata, this, [&](const QString &text) { texts << text; });
        QTcpSocket *bystander = connectClient(server); // open all along, so one socket stays
        QVERIFY(bystander);
        for (int cycle = 0; cycle < 100; ++cycle) {
            QTcpSocket *older = olderCloses ? connectClient(server) : nullptr;
            QTcpSocket *current = connectClient(server);
            QVERIFY(current && (older || !olderCloses));
            (older ? older : current)->disconnectFromHost();
            QTRY_COMPARE(current->state(), QAbstractSocket::UnconnectedState);
            QTRY_COMPARE(liveSockets(server), 1);
            clients.resize(1);
        }
        // The freed current client: replies are dropped, reads find nothing, as for a closed one.
        server.slotWriteTCP("OP LOST=1\r\n");
        texts.clear();
        bystander->write("op from bystander ?\r\n");
        QTRY_COMPARE(texts, QStringList{QString()});
        QTcpSocket *next = connectClient(server);
        QVERIFY(next);
        server.slotWriteTCP("OP FOUND=1\r\n");
        QCOMPARE(readFrom(next, 12), QByteArray("OP FOUND=1\r\n"));
        QCOMPARE(bystander->bytesAvailable(), qint64(0));
    }

    // All sent before the listener gets to read: one record each, in order. A payload ends at its first
    // zero byte; an empty one leaves the record ending after the time.
    void udpRecordPerDatagram()
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

        static const QRegularExpression form(
            QStringLiteral("\\Audp=([^;]*);time=(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d);(.*)\\z"),
            QRegularExpression::DotMatchesEverythingOption);
        for (int i = 0; i < payloads.size(); ++i) {
            const QRegularExpressionMatch m = form.match(records.at(i).at(0).toString());
            QVERIFY2(m.hasMatch(), qPrintable(records.at(i).at(0).toString()));
            QVERIFY(QHostAddress(m.captured(1)).isEqual(QHostAddress::LocalHost, QHostAddress::ConvertV4MappedToIPv4));
            // Local time of day, between sending and seeing the record (a midnight turn aside).
            const QTime at = QTime::fromString(m.captured(2), QStringLiteral("hh:mm:ss.zzz"));
            QVERIFY2(at.isValid() && (after < before || (at >= before.addMSecs(-1) && at <= after)),
                     qPrintable(m.captured(2)));
            QCOMPARE(m.captured(3), payloads.at(i));
        }
    }

    // The event loop can announce a datagram that a nested pass of it has already taken (a reply's or
    // a probe's own pass): Qt then waits for a read before it announces the next one. The listener
    // must read all the same, or it never hears another datagram.
    void udpGoesOnAfterAnAnnouncementOfNothing()
    {
        MyUdpRX listener(product::udpRxPort);
        QSignalSpy records(&listener, SIGNAL(sigSendUDPdata(QString)));
        QSocketNotifier *reads = nullptr;
        for (QSocketNotifier *n : listener.findChildren<QSocketNotifier *>()) {
            if (n->type() == QSocketNotifier::Read)
                reads = n;
        }
        QVERIFY2(reads, "no read notifier found under the UDP socket");
        QUdpSocket sender;
        for (int round = 0; round < 3; ++round) {
            QEvent stale(QEvent::SockAct);
            QCoreApplication::sendEvent(reads, &stale); // nothing is there to read
            const QByteArray payload = "n=" + QByteArray::number(round);
            sender.writeDatagram(payload, QHostAddress::LocalHost, product::udpRxPort);
            QTRY_COMPARE(records.count(), round + 1);
            QVERIFY(records.last().at(0).toString().endsWith(QLatin1Char(';') + QString::fromLatin1(payload)));
        }
    }
};

TOLVANE_TEST_MAIN(TestNet)
#include "tst_net.moc"
