// The TCP side of the bridge, with real clients on loopback.
#include "net/mytcpserver.h"
#include "core/product.h"
#include "tests/support/testenv.h"

#include <QTcpSocket>

#include <memory>

class TestMyServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<MyServer> server;
    QStringList texts; // every text the server emitted
    QList<QTcpSocket *> clients;

    // A client that is connected and accepted by the server, i.e. the current client.
    QTcpSocket *connectClient()
    {
        const int before = server->findChildren<QTcpSocket *>().size();
        auto *client = new QTcpSocket;
        clients.append(client);
        client->connectToHost(QHostAddress::LocalHost, product::tcpPort);
        const bool accepted = client->waitForConnected(testenv::patience)
            && QTest::qWaitFor([&] { return server->findChildren<QTcpSocket *>().size() == before + 1; }, testenv::patience);
        return accepted ? client : nullptr;
    }
    // What a client has received once at least `size` bytes are there.
    static QByteArray readFrom(QTcpSocket *client, int size)
    {
        (void)QTest::qWaitFor([&] { return client->bytesAvailable() >= size; }, testenv::patience);
        return client->readAll();
    }

private slots:
    void init()
    {
        server.reset(new MyServer);
        texts.clear();
        connect(server.get(), &MyServer::sigSendTCPdata, this, [this](const QString &text) { texts << text; });
    }
    void cleanup()
    {
        qDeleteAll(clients);
        clients.clear();
        server.reset();
    }

    // One text per read, whitespace-simplified: lines joined by one blank, white space alone empty.
    void oneTextPerChunk()
    {
        QTcpSocket *client = connectClient();
        QVERIFY(client);
        client->write("op model ?\r\nop ser.no ?\r\n");
        QTRY_COMPARE(texts, QStringList{"op model ? op ser.no ?"});
        client->write(" \t\r\n");
        QTRY_COMPARE(texts, (QStringList{"op model ? op ser.no ?", ""}));
    }

    // Only the newest client is served, and the disconnect of any client closes it.
    void theNewestClientIsServed()
    {
        server->slotWriteTCP("OP EARLY=1\r\n"); // no client yet: dropped
        QTcpSocket *first = connectClient();
        QTcpSocket *second = connectClient();
        QVERIFY(first && second);

        static const char bytes[] = "OP STATUS=1\r\n\0\x01\xff tail";
        const QByteArray reply(bytes, sizeof bytes - 1);
        server->slotWriteTCP(reply);
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
        server->slotWriteTCP("OP LOST=1\r\n");
        QTcpSocket *third = connectClient();
        QVERIFY(third);
        server->slotWriteTCP("OP FOUND=1\r\n");
        QCOMPARE(readFrom(third, 12), QByteArray("OP FOUND=1\r\n"));
    }
};

TOLVANE_TEST_MAIN(TestMyServer)
#include "tst_myserver.moc"
