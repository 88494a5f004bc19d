// The TCP side of the bridge, with real clients on loopback.
#include "mytcpserver.h"
#include "testenv.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

class TestMyServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MyServer> server;
    std::unique_ptr<QSignalSpy> texts;
    QList<QTcpSocket *> clients;

    // A client that is connected and accepted by the server, i.e. the current client.
    QTcpSocket *connectClient();
    QStringList received() const;
    static bool receives(QTcpSocket *client, const QByteArray &expected);
    int acceptedCount() const { return server->findChildren<QTcpSocket *>().size(); }

private slots:
    void init();
    void cleanup();

    void listensOnPort7000();
    void oneTextPerChunk_data();
    void oneTextPerChunk();
    void morePendingThanTheBufferIsReadInPieces();
    void newestConnectionTakesOver();
    void disconnectOfAnyClientClosesTheCurrentOne();
    void repliesAreDroppedWithoutAClient();
    void repliesAreWrittenUnchanged();
    void slotThatRunsTheEventLoopWhileClientsChange();
};

void TestMyServer::init()
{
    server.reset(new MyServer);
    texts.reset(new QSignalSpy(server.get(), SIGNAL(sigSendTCPdata(QString))));
}

void TestMyServer::cleanup()
{
    qDeleteAll(clients);
    clients.clear();
    texts.reset();
    server.reset();
}

QTcpSocket *TestMyServer::connectClient()
{
    const int before = acceptedCount();
    auto *client = new QTcpSocket;
    clients.append(client);
    client->connectToHost(QHostAddress::LocalHost, 7000);
    if (!client->waitForConnected(5000))
        return nullptr;
    if (!QTest::qWaitFor([&] { return acceptedCount() == before + 1; }, 5000))
        return nullptr;
    return client;
}

// True when exactly these bytes reach the client (waiting up to 5 s for them).
bool TestMyServer::receives(QTcpSocket *client, const QByteArray &expected)
{
    (void)QTest::qWaitFor([&] { return client->bytesAvailable() >= expected.size(); }, 5000);
    const QByteArray got = client->readAll();
    if (got != expected)
        qWarning() << "client got" << got << "instead of" << expected;
    return got == expected;
}

QStringList TestMyServer::received() const
{
    QStringList list;
    for (const QList<QVariant> &args : *texts)
        list.append(args.at(0).toString());
    return list;
}

void TestMyServer::listensOnPort7000()
{
    QVERIFY(server->findChild<QTcpServer *>()->isListening());
    QCOMPARE(server->findChild<QTcpServer *>()->serverPort(), quint16(7000));
}

void TestMyServer::oneTextPerChunk_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QString>("text");
    QTest::newRow("one command, line end dropped") << QByteArray("op status ?\r\n") << "op status ?";
    QTest::newRow("two commands joined by one blank")
        << QByteArray("op model ?\r\nop ser.no ?\r\n") << "op model ? op ser.no ?";
    QTest::newRow("inner white space runs become one blank") << QByteArray(" op\t\tinput   ?\n") << "op input ?";
    QTest::newRow("white space only is an empty text") << QByteArray("\r\n") << "";
    QTest::newRow("zero byte cuts the text") << QByteArray("op a ?\0op b ?\r\n", 15) << "op a ?";
    QTest::newRow("zero byte first") << QByteArray("\0op a ?", 7) << "";
    QTest::newRow("UTF-8 decoded") << QByteArray("op name \xc3\xa9?") << QString::fromUtf8("op name \xc3\xa9?");
    QTest::newRow("invalid UTF-8 replaced") << QByteArray("op \xff") << QString::fromUtf8("op \xef\xbf\xbd");
}

void TestMyServer::oneTextPerChunk()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QString, text);
    QTcpSocket *client = connectClient();
    QVERIFY(client);
    client->write(chunk);
    QTRY_COMPARE(texts->count(), 1);
    QCOMPARE(received(), QStringList{text});
}

void TestMyServer::morePendingThanTheBufferIsReadInPieces()
{
    QTcpSocket *client = connectClient();
    QVERIFY(client);
    QByteArray sent;
    for (int i = 0; i < 3000; ++i)
        sent += char('a' + i % 26);
    client->write(sent);
    const auto total = [&] {
        int n = 0;
        for (const QString &t : received())
            n += t.size();
        return n;
    };
    QTRY_COMPARE(total(), sent.size());
    QVERIFY2(texts->count() >= 3, qPrintable(QString::number(texts->count())));
    for (const QString &t : received())
        QVERIFY2(t.size() <= 1023, qPrintable(QString::number(t.size())));
    QCOMPARE(received().join(QString()).toLatin1(), sent);
}

void TestMyServer::newestConnectionTakesOver()
{
    QTcpSocket *first = connectClient();
    QVERIFY(first);
    QTcpSocket *second = connectClient();
    QVERIFY(second);

    server->slotWriteTCP("OP STATUS=1\r\n");
    QVERIFY(receives(second, "OP STATUS=1\r\n"));
    // Write once more after the first reply arrived, so the first client had every chance to get one.
    server->slotWriteTCP("OP INPUT=2\r\n");
    QVERIFY(receives(second, "OP INPUT=2\r\n"));
    QCOMPARE(first->bytesAvailable(), qint64(0));

    // The first client's notification reads the second client, which has nothing pending.
    first->write("op from first ?\r\n");
    QTRY_COMPARE(texts->count(), 1);
    QCOMPARE(received(), QStringList{QString()});
    second->write("op from second ?\r\n");
    QTRY_COMPARE(texts->count(), 2);
    QCOMPARE(received().last(), QStringLiteral("op from second ?"));
}

void TestMyServer::disconnectOfAnyClientClosesTheCurrentOne()
{
    QTcpSocket *first = connectClient();
    QVERIFY(first);
    QTcpSocket *second = connectClient();
    QVERIFY(second);
    first->disconnectFromHost();
    QTRY_COMPARE(second->state(), QAbstractSocket::UnconnectedState);

    // Until someone connects again, replies go nowhere.
    server->slotWriteTCP("OP LOST=1\r\n");
    QTcpSocket *third = connectClient();
    QVERIFY(third);
    server->slotWriteTCP("OP FOUND=1\r\n");
    QVERIFY(receives(third, "OP FOUND=1\r\n"));
}

void TestMyServer::repliesAreDroppedWithoutAClient()
{
    server->slotWriteTCP("OP EARLY=1\r\n");
    QTcpSocket *client = connectClient();
    QVERIFY(client);
    server->slotWriteTCP("OP FIRST=1\r\n");
    QVERIFY(receives(client, "OP FIRST=1\r\n"));

    // After the client has left, nothing is kept for the next one.
    client->disconnectFromHost();
    const QList<QTcpSocket *> accepted = server->findChildren<QTcpSocket *>();
    QTRY_VERIFY(!accepted.first()->isOpen());
    server->slotWriteTCP("OP GONE=1\r\n");
    QTcpSocket *next = connectClient();
    QVERIFY(next);
    server->slotWriteTCP("OP NEXT=1\r\n");
    QVERIFY(receives(next, "OP NEXT=1\r\n"));
}

void TestMyServer::repliesAreWrittenUnchanged()
{
    QTcpSocket *client = connectClient();
    QVERIFY(client);
    static const char bytes[] = "op status = 1\r\n\0\x01\xff tail";
    const QByteArray reply(bytes, sizeof bytes - 1);
    server->slotWriteTCP(reply);
    QVERIFY(receives(client, reply));
}

void TestMyServer::slotThatRunsTheEventLoopWhileClientsChange()
{
    QTcpSocket *first = connectClient();
    QVERIFY(first);
    QTcpSocket *second = nullptr;
    bool nested = false;
    // Like a message box: the event loop runs inside the slot while a new client takes over,
    // sends, and the old one leaves (which closes the new one).
    connect(server.get(), &MyServer::sigSendTCPdata, this, [&](const QString &text) {
        if (text != QLatin1String("op a ?") || nested)
            return;
        nested = true;
        second = connectClient();
        if (!second)
            return;
        second->write("op b ?\r\n");
        QVERIFY(QTest::qWaitFor([&] { return received().contains(QStringLiteral("op b ?")); }, 5000));
        first->disconnectFromHost();
        QVERIFY(QTest::qWaitFor([&] { return second->state() == QAbstractSocket::UnconnectedState; }, 5000));
    });
    first->write("op a ?\r\n");
    QTRY_VERIFY(nested);
    QVERIFY(second);
    QTRY_COMPARE(second->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(received().mid(0, 2), (QStringList{QStringLiteral("op a ?"), QStringLiteral("op b ?")}));
}

TOLVANE_TEST_MAIN(TestMyServer)
#include "tst_myserver.moc"
