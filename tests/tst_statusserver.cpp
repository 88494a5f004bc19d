// The status endpoint over real sockets: what each request gets, where it listens, the board's
// counters as served, and hostile clients that must be closed without keeping others out.
#include "net/statusboard.h"
#include "net/statusserver.h"
#include "support/statusfixture.h"
#include "support/testenv.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTcpSocket>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

namespace {

struct Reply {
    int code = 0;                         // 0: no answer
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// Sends `request` and reads until the server closes (it always does after one answer).
Reply fetch(const QHostAddress &address, quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    Reply r;
    if (!socket.waitForConnected(testenv::patience))
        return r;
    socket.write(request);
    QByteArray all;
    QDeadlineTimer deadline(testenv::patience);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(deadline.remainingTime()));
        all += socket.readAll();
    }
    all += socket.readAll();
    const int end = all.indexOf("\r\n\r\n");
    if (end < 0)
        return r;
    const QList<QByteArray> lines = all.left(end).split('\n');
    r.code = lines.value(0).split(' ').value(1).toInt();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        r.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    r.body = all.mid(end + 4);
    return r;
}

QByteArray get(const char *path) { return QByteArray("GET ") + path + " HTTP/1.1\r\nHost: t\r\n\r\n"; }

// The strict reading of tests/support/checkmetrics.py; empty when the metrics pass.
QString metricsProblems(const QByteArray &metrics)
{
    QProcess check;
    check.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(TOLVANE_TEST_SUPPORT_DIR "/checkmetrics.py")});
    if (!check.waitForStarted(testenv::patience))
        return QStringLiteral("python3 did not start");
    check.write(metrics);
    check.closeWriteChannel();
    check.waitForFinished(testenv::patience);
    return check.exitCode() == 0 ? QString() : QString::fromUtf8(check.readAllStandardError());
}

const QHostAddress loopback = QHostAddress(QHostAddress::LocalHost);

} // namespace

class TestStatusServer : public QObject
{
    Q_OBJECT

    // Served instead of a bridge's board.
    StatusSnapshot fixed{statusfixture::open(), statusfixture::traffic()};
    const StatusLimits limits{32, 16384, 2};
    StatusServer server{[this] { return fixed; }, limits};

    bool servesAgain() { return fetch(loopback, server.port(), get("/status")).code == 200; }

private slots:
    void initTestCase() { QVERIFY2(server.listen(loopback, 0), qPrintable(server.errorString())); }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("type"); // the Content-Type's start
        QTest::newRow("GET /status") << get("/status") << 200 << QByteArray("application/json");
        QTest::newRow("GET /metrics") << get("/metrics") << 200 << QByteArray("text/plain; version=0.0.4");
        QTest::newRow("GET /") << get("/") << 200 << QByteArray("text/html");
        QTest::newRow("query ignored") << get("/status?refresh=1") << 200 << QByteArray("application/json");
        QTest::newRow("HTTP/1.0") << QByteArray("GET /metrics HTTP/1.0\r\n\r\n") << 200 << QByteArray("text/plain");
        QTest::newRow("HEAD /status") << QByteArray("HEAD /status HTTP/1.1\r\nHost: t\r\n\r\n") << 200
                                      << QByteArray("application/json");
        QTest::newRow("unknown path") << get("/config") << 404 << QByteArray("text/plain");
        QTest::newRow("trailing slash") << get("/status/") << 404 << QByteArray("text/plain");
        QTest::newRow("POST") << QByteArray("POST /status HTTP/1.1\r\nHost: t\r\nContent-Length: 4\r\n\r\nop x") << 405
                              << QByteArray("text/plain");
        QTest::newRow("PUT") << QByteArray("PUT / HTTP/1.1\r\nHost: t\r\nContent-Length: 0\r\n\r\n") << 405
                             << QByteArray("text/plain");
        QTest::newRow("DELETE unknown path")
            << QByteArray("DELETE /x HTTP/1.1\r\nHost: t\r\n\r\n") << 405 << QByteArray("text/plain");
    }
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, code);
        QFETCH(QByteArray, type);
        const Reply r = fetch(loopback, server.port(), request);
        QCOMPARE(r.code, code);
        QVERIFY2(r.headers.value("content-type").startsWith(type), r.headers.value("content-type"));
        QCOMPARE(r.headers.value("connection"), QByteArray("close"));
        if (code == 405)
            QCOMPARE(r.headers.value("allow"), QByteArray("GET, HEAD"));
        if (request.startsWith("HEAD")) {
            QCOMPARE(r.body, QByteArray());
            QCOMPARE(r.headers.value("content-length").toInt(), bridgestatus::toJson(fixed.status).size() + 1);
        } else if (type == "application/json") {
            QJsonParseError error;
            const QJsonDocument json = QJsonDocument::fromJson(r.body, &error);
            QVERIFY2(json.isObject(), qPrintable(error.errorString()));
            QCOMPARE(json, QJsonDocument::fromJson(bridgestatus::toJson(fixed.status)));
        } else if (code == 200 && type.startsWith("text/plain")) {
            QCOMPARE(r.body, bridgestatus::toMetrics(fixed.status));
            const QString problems = metricsProblems(r.body);
            QVERIFY2(problems.isEmpty(), qPrintable(problems));
        } else if (type == "text/html") {
            QVERIFY(r.body.contains(fixed.traffic.last().toHtmlEscaped().toUtf8()));
        }
    }

    void binds_data()
    {
        QTest::addColumn<QString>("bind"); // "any": all addresses
        QTest::addColumn<QString>("connect");
        QTest::addColumn<bool>("answers");
        QTest::newRow("all, over IPv4") << "any"
                                        << "127.0.0.1" << true;
        QTest::newRow("all, over IPv6") << "any"
                                        << "::1" << true;
        QTest::newRow("one address, that one") << "127.0.0.2"
                                               << "127.0.0.2" << true;
        QTest::newRow("one address, another") << "127.0.0.2"
                                              << "127.0.0.1" << false;
        QTest::newRow("IPv6 loopback") << "::1"
                                       << "::1" << true;
    }
    void binds()
    {
        QFETCH(QString, bind);
        QFETCH(QString, connect);
        QFETCH(bool, answers);
        StatusServer other([this] { return fixed; });
        QVERIFY2(other.listen(bind == "any" ? QHostAddress(QHostAddress::Any) : QHostAddress(bind), 0),
                 qPrintable(other.errorString()));
        QCOMPARE(fetch(QHostAddress(connect), other.port(), get("/status")).code, answers ? 200 : 0);
    }

    // The port's story as the road tells it: the state, when it opened, reopens and losses. The exact
    // counters of a running bridge are e2e_status.sh's.
    void boardPortStates_data()
    {
        QTest::addColumn<QString>("story"); // w: waiting, o: opened, l: lost, c: closed
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("reopens");
        QTest::addColumn<int>("losses");
        QTest::newRow("never opened") << ""
                                      << "closed" << 0 << 0;
        QTest::newRow("waiting, then open") << "wo"
                                            << "open" << 0 << 0;
        QTest::newRow("closed on purpose") << "oc"
                                           << "closed" << 0 << 0;
        QTest::newRow("the close after a loss leaves it lost") << "olc"
                                                               << "lost" << 0 << 1;
        QTest::newRow("lost, waiting, back") << "olcwo"
                                             << "open" << 1 << 1;
        QTest::newRow("a loss while not open is none") << "oclc"
                                                       << "lost" << 0 << 0;
        QTest::newRow("settings applied twice") << "ococo"
                                                << "open" << 2 << 0;
    }

    void boardPortStates()
    {
        QFETCH(QString, story);
        QFETCH(QString, state);
        QFETCH(int, reopens);
        QFETCH(int, losses);
        StatusBoard board(QStringLiteral("service"));
        const QString port = QStringLiteral("/dev/ttyV0");
        for (QChar step : story) {
            switch (step.toLatin1()) {
            case 'w': board.portWaiting(port); break;
            case 'o': board.portOpened(port, QStringLiteral("Connected to /dev/ttyV0 : 9600")); break;
            case 'l': board.portLost(); break;
            case 'c': board.portClosed(); break;
            }
        }
        const bridgestatus::BridgeStatus s = board.snapshot().status;
        QCOMPARE(bridgestatus::portStateName(s.portState), state);
        QCOMPARE(s.portOpenSince.isValid(), state == QLatin1String("open"));
        QCOMPARE(s.reopens, qint64(reopens));
        QCOMPARE(s.losses, qint64(losses));
    }

    // The server's thread stuck in the middle of an answer, after it took its snapshot: the road's
    // reports still go through at once, and the next answer has them.
    void boardNeverWaitsForServer()
    {
        StatusBoard board(QStringLiteral("window"));
        std::atomic<int> answering{0};
        QSemaphore release;
        StatusServer served(
            [&] {
                const StatusSnapshot s = board.snapshot();
                ++answering;
                release.tryAcquire(1, testenv::patience);
                return s;
            },
            limits);
        QVERIFY(served.listen(loopback, 0));
        QTcpSocket waiting;
        waiting.connectToHost(loopback, served.port());
        waiting.write(get("/status"));
        QTRY_COMPARE_WITH_TIMEOUT(answering.load(), 1, testenv::patience);
        for (int i = 0; i < 10000; ++i)
            board.commandWritten(1);
        release.release(2);
        QTRY_COMPARE_WITH_TIMEOUT(waiting.state(), QAbstractSocket::UnconnectedState, testenv::patience);
        const QJsonDocument json = QJsonDocument::fromJson(fetch(loopback, served.port(), get("/status")).body);
        QCOMPARE(json["commands_written"].toInt(), 10000);
    }

    void hostile_data()
    {
        QTest::addColumn<int>("connections");
        QTest::addColumn<QByteArray>("sent"); // by each, at once
        QTest::addColumn<bool>("trickle");    // then one more byte at every look
        QByteArray random(64 * 1024, '\0');
        QRandomGenerator generator(22);
        for (char &c : random)
            c = char(generator.bounded(256));
        QTest::newRow("slowloris") << 300 << QByteArray("GET / HTTP/1.1\r\nHost: t\r\n") << false;
        QTest::newRow("trickling under every idle timeout") << 5 << QByteArray("GET / HTTP/1.1\r\n") << true;
        QTest::newRow("megabyte header") << 1 << "GET / HTTP/1.1\r\nX-Big: " + QByteArray(1 << 20, 'a') + "\r\n\r\n"
                                         << false;
        QTest::newRow("random bytes") << 4 << random << false;
        QTest::newRow("connection flood") << 1000 << QByteArray() << false;
    }
    void hostile()
    {
        QFETCH(int, connections);
        QFETCH(QByteArray, sent);
        QFETCH(bool, trickle);
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < connections; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(loopback, server.port());
            if (!sent.isEmpty())
                clients.back()->write(sent);
        }
        const auto open = [&] {
            if (trickle) {
                for (auto &c : clients)
                    c->write("X");
            }
            return std::count_if(clients.begin(), clients.end(),
                                 [](const auto &c) { return c->state() != QAbstractSocket::UnconnectedState; });
        };
        QTRY_COMPARE_WITH_TIMEOUT(open(), 0L, testenv::patience);
        QVERIFY(servesAgain());
    }
};

TOLVANE_TEST_MAIN(TestStatusServer)
#include "tst_statusserver.moc"
