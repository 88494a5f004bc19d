// The serial link end to end: the port opened with the INI's parameters; commands from TCP and the
// manual editor to the device and its replies back to the TCP client (a device that goes away:
// tst_deviceloss); the About box, which names the port. Real TCP sockets and a pseudo-terminal
// played by the test.
#include "tests/support/bridgerig.h"
#include "core/netinfo.h"

#include <QAction>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>

Q_DECLARE_METATYPE(rig::LineSettings)

class TestSerialLink : public QObject, rig::DeviceBridge
{
    Q_OBJECT

    // Sends a command over TCP, checks the exact bytes on the line and lets the device echo it.
    bool command(const QByteArray &text)
    {
        bridge->send(text);
        return rig::waitFor([&] { return device->received() == text + "\r\n"; }) && deliver(text + "\r\n");
    }

private slots:
    void cleanup()
    {
        close();
        for (QWidget *w : QApplication::topLevelWidgets()) // the window deletes its settings dialog
            QVERIFY(!w->inherits("SettingsDialog"));
    }

    void opensWithTheIniParameters_data()
    {
        QTest::addColumn<rig::LineSettings>("line");
        QTest::addColumn<int>("speed");
        QTest::addColumn<QString>(
            "state"); // a pseudo-terminal forces 8 data bits and no parity: those two from the port
        QTest::newRow("defaults") << rig::LineSettings() << int(B9600) << "Data8 NoParity";
        QTest::newRow("38400 7E2 RTS/CTS") << rig::LineSettings{"38400", "7", "Even", "2", "RTS/CTS"} << int(B38400)
                                           << "CSTOPB CRTSCTS Data7 EvenParity";
        QTest::newRow("115200 8M1 XON/XOFF")
            << rig::LineSettings{"115200", "8", "Mark", "1", "XON/XOFF"} << int(B115200) << "IXON Data8 MarkParity";
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
        QVERIFY(bridge->editor()->isEnabled());

        termios t{};
        QVERIFY(device->attributes(&t));
        QCOMPARE(qMakePair(int(cfgetospeed(&t)), int(cfgetispeed(&t))), qMakePair(speed, speed));
        QStringList got;
        for (const auto &flag :
             {std::pair{t.c_cflag & CSTOPB, "CSTOPB"}, {t.c_cflag & CRTSCTS, "CRTSCTS"}, {t.c_iflag & IXON, "IXON"}})
            if (flag.first)
                got << flag.second;
        got << QVariant::fromValue(bridge->port()->dataBits()).toString()
            << QVariant::fromValue(bridge->port()->parity()).toString();
        QCOMPARE(got.join(QLatin1Char(' ')), state);
    }

    void replyForwardedByteForByte_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QByteArray>("forwarded");
        QTest::addColumn<QString>("shown");
        QTest::newRow("CR LF kept") << QList<QByteArray>{"OP STATUS=1\r\n"} << QByteArray("OP STATUS=1\r\n")
                                    << "<<<OP STATUS=1";
        const QByteArray nul("OP NAME=A\0B\0\r\n", 14);
        QTest::newRow("NUL bytes") << QList<QByteArray>{nul} << nul << "<<<OP NAME=A";
        const QByteArray invalid("OP NAME=\xff\xfe\xc3\x28\r\n");
        QTest::newRow("invalid UTF-8") << QList<QByteArray>{invalid} << invalid
                                       << QString::fromUtf8("<<<OP NAME=\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd(");
        QTest::newRow("line in two pieces, LF alone")
            << QList<QByteArray>{"OP STA", "TUS=1\n"} << QByteArray("OP STATUS=1\n") << "<<<OP STATUS=1";
        QTest::newRow("the echo test is case-sensitive")
            << QList<QByteArray>{"OP STATUS ?\r\n"} << QByteArray("OP STATUS ?\r\n") << "<<<OP STATUS ?";
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

    // A stable name that survives replugs, as /dev/serial/by-id gives one, is a port like any other,
    // although the system lists the adapter under its kernel name.
    void portByIdPath()
    {
        QTemporaryDir names;
        device = std::make_unique<PtyDevice>();
        QVERIFY(QDir(names.path()).mkpath(QStringLiteral("serial/by-id")));
        const QString byId =
            device->linkAs(names.filePath(QStringLiteral("serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0")));
        QVERIFY(!byId.isEmpty());
        rig::usePort(device->slavePath(), byId);
        bridge = std::make_unique<rig::Bridge>();
        QVERIFY(bridge->port()->isOpen() && bridge->connectClient());
        QVERIFY(bridge->window->windowTitle().endsWith(QStringLiteral(" >>>") + byId));
        QCOMPARE(bridge->boxes.count(), 0);
        QVERIFY(command("op status ?"));
        QVERIFY(deliver("OP STATUS=1\r\n"));
        QTRY_COMPARE(bridge->fromBridge, QByteArray("OP STATUS=1\r\n"));
    }

    void manualEditorSendsCommandWithCrOnly()
    {
        QVERIFY(open());
        QTest::keyClick(bridge->editor(), Qt::Key_Return);
        QTRY_COMPARE(device->received(), QByteArray("op status ?\r"));
        // The echo is recognised by the command's text, whatever the terminators.
        QVERIFY(deliver("op status ?\n") && deliver("OP STATUS=0\r\n"));
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
                sent = device->send("OP INPUT=HDMI1\r\n")
                    && rig::waitFor([&] { return bridge->port()->bytesAvailable() > 0; });
        });
        QVERIFY(deliver("OP POWER=1\r\n"));
        QVERIFY(sent);
        QTRY_COMPARE(bridge->fromBridge, QByteArray("OP POWER=1\r\nOP INPUT=HDMI1\r\n"));
    }

    // Only "op " texts in any case reach the device; only "op " lines after a command reach the client.
    void whatIsNotACommandOrReplyStaysInThePanes()
    {
        QVERIFY(open());
        // One text per read: wait for each to be logged before sending the next.
        const QList<QByteArray> texts = {"status ?", "opstatus ?", "xop status ?"};
        for (int i = 0; i < texts.size(); ++i) {
            bridge->send(texts.at(i));
            QTRY_COMPARE(rig::paneLines(bridge->tcpPane()).size(), i + 1);
        }
        // Before any command every "op " line counts as an echo: dropped without a trace.
        QVERIFY(deliver("OP POWER=1\r\n") && deliver("READY\r\n"));
        QVERIFY(command("OP POWER ?"));
        QVERIFY(deliver("power is on\r\n"));
        QCOMPARE(bridge->fromBridge, QByteArray()); // a port is present: no local answers
        QTRY_COMPARE(rig::paneLines(bridge->serialPane()),
                     QStringList({">status ?", ">opstatus ?", ">xop status ?", "<<<READY", ">OP POWER ?",
                                  ">>>OP POWER ?", "<<<power is on"}));
    }

    void localAnswersWithoutAnyPort_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("inStartupBox"); // its event loop runs while the window is still being built
        const QByteArray model(product::modelAnswer);
        QTest::newRow("model, no line end") << QByteArray(product::modelQuery) << model << false;
        QTest::newRow("model, in the start-up box") << QByteArray(product::modelQuery) << model << true;
        QTest::newRow("model after other text, before ser.no")
            << QByteArray("hi op ser.no ? op model ?") << model << false;
        QTest::newRow("serial number") << QByteArray("op ser.no ?\r\n") << QByteArray(product::serialNumberAnswer)
                                       << false;
        QTest::newRow("status keeps the blank before ?")
            << QByteArray("op status ?") << QByteArray("op status =NA") << false;
        QTest::newRow("upper case is generic") << QByteArray("OP MODEL ?") << QByteArray("OP MODEL =NA") << false;
        QTest::newRow("every ? removed, UTF-8 kept")
            << QByteArray("op a?b n\xc3\xa4me ??") << QByteArray("op ab n\xc3\xa4me =NA") << false;
        QTest::newRow("white space only") << QByteArray(" \t ") << QByteArray("=NA") << false;
    }
    void localAnswersWithoutAnyPort()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, answer);
        QFETCH(bool, inStartupBox);
        rig::noPorts();
        const auto ask = [&](rig::Bridge &b) {
            if (b.connectClient())
                b.send(sent);
            rig::waitFor([&] { return b.fromBridge == answer; });
        };
        bridge = std::make_unique<rig::Bridge>([&](rig::Bridge &b) {
            if (inStartupBox)
                b.boxes.whileOpen = [&](const BoxCatcher::Box &) { ask(b); };
        });
        QCOMPARE(bridge->boxes.count(), 1);
        if (!inStartupBox)
            ask(*bridge);
        QCOMPARE(bridge->fromBridge, answer);
    }

    // The About box, built from the embedded page and what the window knows when it opens.
    void aboutBoxReadsThePortLabelEachTime()
    {
        rig::noPorts();
        rig::Bridge bridge;
        bridge.boxes.clear();
        QFile file(QStringLiteral(":/html/About_en_US.html"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString page = QString::fromUtf8(file.readAll());
        // The program's build date, which a build around midnight can put a day after this file's.
        const QRegularExpression title(QStringLiteral("^Tolvane ReleaseBuild-[A-Z][a-z]{2} [ 123][0-9] [0-9]{4}$"));

        for (const QString &port : {QStringLiteral("Serial Port"), QStringLiteral("ttyV0:9600,8,None,1")}) {
            bridge.label()->setText(port);
            bridge.window->findChild<QAction *>(QStringLiteral("actionAbout"))->trigger();
            QVERIFY2(title.match(bridge.boxes.last().title).hasMatch(), qPrintable(bridge.boxes.last().title));
            QCOMPARE(bridge.boxes.last().text,
                     page + "<br>OS: " + QSysInfo::prettyProductName() + "<br>IP: "
                         + bridge.window->getLocalNetInfo(netinfo::Ipv4Addresses).first() + "<br>Port: " + port);
            QCOMPARE(bridge.boxes.last().parent, bridge.window.get());
        }
        QCOMPARE(bridge.boxes.count(), 2);
    }
};

TOLVANE_TEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
