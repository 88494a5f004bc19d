// The serial link end to end: the port opened with the INI's parameters; commands from TCP and the
// manual editor to the device and its replies back to the TCP client (a device that goes away:
// tst_deviceloss). Real TCP sockets and a pseudo-terminal played by the test.
#include "tests/support/bridgerig.h"
#include "tests/support/ptydevice.h"

#include "core/netinfo.h"
#include "core/product.h"
#include "core/version.h"

#include <QSignalSpy>

#include <memory>

Q_DECLARE_METATYPE(rig::LineSettings)

class TestSerialLink : public QObject
{
    Q_OBJECT

    std::unique_ptr<PtyDevice> device;
    std::unique_ptr<rig::Bridge> bridge;

    // A bridge with the device's line open and a TCP client connected.
    bool open(const rig::LineSettings &line = rig::LineSettings())
    {
        device = std::make_unique<PtyDevice>();
        rig::usePort(device->slavePath(), device->slavePath(), line);
        bridge = std::make_unique<rig::Bridge>();
        return device->isValid() && bridge->port()->isOpen() && bridge->connectClient();
    }
    // Writes bytes as the device and waits until the bridge has taken them in: the spy is connected
    // after the window's own slot, so when it has seen one notification, the slot has run.
    bool deliver(const QByteArray &bytes)
    {
        QSignalSpy readyRead(bridge->port(), SIGNAL(readyRead()));
        return device->send(bytes) && rig::waitFor([&] { return readyRead.count() > 0; });
    }
    // Sends a command over TCP, checks the exact bytes on the line and lets the device echo it.
    bool command(const QByteArray &text)
    {
        bridge->send(text);
        return rig::waitFor([&] { return device->received() == text + "\r\n"; }) && deliver(text + "\r\n");
    }

private slots:
    void cleanup()
    {
        bridge.reset();
        device.reset();
    }

    void opensWithTheIniParameters_data()
    {
        QTest::addColumn<rig::LineSettings>("line");
        QTest::addColumn<int>("speed");
        QTest::addColumn<QString>("state"); // a pseudo-terminal forces 8 data bits and no parity: those two from the port
        QTest::newRow("defaults") << rig::LineSettings() << int(B9600) << "Data8 NoParity";
        QTest::newRow("38400 7E2 RTS/CTS") << rig::LineSettings{"38400", "7", "Even", "2", "RTS/CTS"} << int(B38400)
                                           << "CSTOPB CRTSCTS Data7 EvenParity";
        QTest::newRow("115200 8M1 XON/XOFF") << rig::LineSettings{"115200", "8", "Mark", "1", "XON/XOFF"} << int(B115200)
                                             << "IXON Data8 MarkParity";
    }

    void opensWithTheIniParameters()
    {
        QFETCH(rig::LineSettings, line);
        QFETCH(int, speed);
        QFETCH(QString, state);
        QVERIFY(open(line));
        const QString path = device->slavePath();
        const QStringList shown{line.baudRate, line.dataBits, line.parity, line.stopBits, line.flowControl};
        QCOMPARE(bridge->status(), "Connected to " + path + " : " + shown.join(", "));
        QCOMPARE(bridge->label()->text(), path + ":" + shown.mid(0, 4).join(","));
        QCOMPARE(bridge->window->windowTitle(), QStringLiteral("%1-%2 UDPRX@%3/IP@%4 >>>%5")
                     .arg(QLatin1String(product::appName), QLatin1String(version::number)).arg(product::udpRxPort)
                     .arg(bridge->window->getLocalNetInfo(netinfo::Ipv4Addresses).first(), path));
        QVERIFY(bridge->editor()->isEnabled());

        termios t {};
        QVERIFY(device->attributes(&t));
        QCOMPARE(int(cfgetospeed(&t)), speed);
        QCOMPARE(int(cfgetispeed(&t)), speed);
        QStringList got;
        for (const auto &flag : {std::pair{t.c_cflag & CSTOPB, "CSTOPB"}, {t.c_cflag & CRTSCTS, "CRTSCTS"}, {t.c_iflag & IXON, "IXON"}})
            if (flag.first)
                got << flag.second;
        got << QVariant::fromValue(bridge->port()->dataBits()).toString() << QVariant::fromValue(bridge->port()->parity()).toString();
        QCOMPARE(got.join(QLatin1Char(' ')), state);
    }

    void replyForwardedByteForByte_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QByteArray>("forwarded");
        QTest::addColumn<QString>("shown");
        QTest::newRow("CR LF kept") << QList<QByteArray>{"OP STATUS=1\r\n"} << QByteArray("OP STATUS=1\r\n") << "<<<OP STATUS=1";
        const QByteArray nul("OP NAME=A\0B\0\r\n", 14);
        QTest::newRow("NUL bytes") << QList<QByteArray>{nul} << nul << "<<<OP NAME=A";
        const QByteArray invalid("OP NAME=\xff\xfe\xc3\x28\r\n");
        QTest::newRow("invalid UTF-8") << QList<QByteArray>{invalid} << invalid
                                       << QString::fromUtf8("<<<OP NAME=\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd(");
        QTest::newRow("line in two pieces, LF alone") << QList<QByteArray>{"OP STA", "TUS=1\n"} << QByteArray("OP STATUS=1\n")
                                                      << "<<<OP STATUS=1";
        QTest::newRow("the echo test is case-sensitive") << QList<QByteArray>{"OP STATUS ?\r\n"} << QByteArray("OP STATUS ?\r\n")
                                                         << "<<<OP STATUS ?";
    }

    void replyForwardedByteForByte()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QByteArray, forwarded);
        QFETCH(QString, shown);
        QVERIFY(open());
        QVERIFY(command("op status ?"));
        for (const QByteArray &chunk : chunks)
            QVERIFY(deliver(chunk));
        QTRY_COMPARE(bridge->fromBridge, forwarded);
        QTRY_COMPARE(rig::paneLines(bridge->serialPane()), QStringList({">op status ?", ">>>op status ?", shown}));
        QTRY_COMPARE(rig::paneLines(bridge->tcpPane()), QStringList({"TCP>op status ?", shown}));
    }

    void manualEditorSendsCommandWithCrOnly()
    {
        QVERIFY(open());
        QTest::keyClick(bridge->editor(), Qt::Key_Return);
        QTRY_COMPARE(device->received(), QByteArray("op status ?\r"));
        // The echo is recognised by the command's text, whatever the terminators.
        QVERIFY(deliver("op status ?\n"));
        QVERIFY(deliver("OP STATUS=0\r\n"));
        QTRY_COMPARE(bridge->fromBridge, QByteArray("OP STATUS=0\r\n"));
    }

    void secondLineOfAChunkWaitsForMoreData()
    {
        QVERIFY(open());
        QVERIFY(command("op power ?"));
        QSignalSpy forwarded(bridge->window.get(), SIGNAL(sigWriteTCPdata(QByteArray)));
        QVERIFY(deliver("OP POWER=1\r\nOP INPUT=HDMI1\r\n"));
        QCOMPARE(forwarded.count(), 1);
        QCOMPARE(bridge->port()->bytesAvailable(), qint64(strlen("OP INPUT=HDMI1\r\n"))); // until more data comes
        QTRY_COMPARE(bridge->fromBridge, QByteArray("OP POWER=1\r\n"));
    }

    void dataArrivingWhileAReplyIsHandledIsNotLeftWaiting()
    {
        QVERIFY(open());
        QVERIFY(command("op power ?"));
        // The next line reaches the port while the first reply is still being handled.
        bool sent = false;
        connect(bridge->window.get(), &MainWindow::sigWriteTCPdata, this, [&] {
            if (!sent)
                sent = device->send("OP INPUT=HDMI1\r\n") && rig::waitFor([&] { return bridge->port()->bytesAvailable() > 0; });
        });
        QVERIFY(deliver("OP POWER=1\r\n"));
        QVERIFY(sent);
        QTRY_COMPARE(bridge->fromBridge, QByteArray("OP POWER=1\r\nOP INPUT=HDMI1\r\n"));
    }

    void linesThatAreNotRepliesStayInTheSerialPane()
    {
        QVERIFY(open());
        // Before any command every "op " line counts as an echo: dropped without a trace.
        QVERIFY(deliver("OP POWER=1\r\n"));
        QVERIFY(deliver("READY\r\n"));
        QVERIFY(command("op power ?"));
        QVERIFY(deliver("power is on\r\n"));
        QCOMPARE(bridge->fromBridge, QByteArray());
        QTRY_COMPARE(rig::paneLines(bridge->serialPane()), QStringList({"<<<READY", ">op power ?", ">>>op power ?", "<<<power is on"}));
    }

    void onlyOpCommandsReachTheDevice()
    {
        QVERIFY(open());
        // One text per read: wait for each to be logged before sending the next.
        const QList<QByteArray> texts = {"status ?", "opstatus ?", "xop status ?", "OP POWER ?"};
        for (int i = 0; i < texts.size(); ++i) {
            bridge->send(texts.at(i));
            QTRY_COMPARE(rig::paneLines(bridge->tcpPane()).size(), i + 1);
        }
        QTRY_COMPARE(device->received(), QByteArray("OP POWER ?\r\n"));
        QCOMPARE(bridge->fromBridge, QByteArray()); // a port is present: no local answers
    }

    void localAnswersWithoutAnyPort_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("answer");
        const QByteArray model(product::modelAnswer);
        QTest::newRow("model, no line end") << QByteArray(product::modelQuery) << model;
        QTest::newRow("model after other text, before ser.no") << QByteArray("hi op ser.no ? op model ?") << model;
        QTest::newRow("serial number") << QByteArray("op ser.no ?\r\n") << QByteArray(product::serialNumberAnswer);
        QTest::newRow("status keeps the blank before ?") << QByteArray("op status ?") << QByteArray("op status =NA");
        QTest::newRow("upper case is generic") << QByteArray("OP MODEL ?") << QByteArray("OP MODEL =NA");
        QTest::newRow("every ? removed, UTF-8 kept") << QByteArray("op a?b n\xc3\xa4me ??") << QByteArray("op ab n\xc3\xa4me =NA");
        QTest::newRow("white space only") << QByteArray(" \t ") << QByteArray("=NA");
    }

    void localAnswersWithoutAnyPort()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, answer);
        rig::noPorts();
        bridge = std::make_unique<rig::Bridge>();
        QVERIFY(bridge->connectClient());
        bridge->send(sent);
        QTRY_COMPARE(bridge->fromBridge, answer);
    }

    // The no-port box of start-up runs an event loop while the window is still being built.
    void localAnswerDuringTheStartupBox()
    {
        rig::noPorts();
        bool answered = false;
        bridge = std::make_unique<rig::Bridge>([&](rig::Bridge &b) {
            b.boxes.whileOpen = [&](const BoxCatcher::Box &) {
                if (b.connectClient())
                    b.send(product::modelQuery);
                answered = rig::waitFor([&] { return b.fromBridge == product::modelAnswer; });
            };
        });
        QCOMPARE(bridge->boxes.count(), 1);
        QVERIFY(answered);
    }
};

TOLVANE_TEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
