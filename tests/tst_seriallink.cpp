// Commands from TCP and the manual editor to the device, and its replies back to the TCP client,
// through a real TCP socket and a pseudo-terminal played by the test.
#include "bridgerig.h"
#include "ptydevice.h"

#include <QSignalSpy>

#include <memory>

class TestSerialLink : public QObject
{
    Q_OBJECT

private slots:
    void tcpCommandReachesDeviceAndReplyComesBack();
    void manualEditorSendsCommandWithCrOnly();
    void replyForwardedByteForByte_data();
    void replyForwardedByteForByte();
    void secondLineOfAChunkWaitsForMoreData();
    void linesThatAreNotRepliesStayInTheSerialPane();
    void onlyOpCommandsReachTheDevice();
    void localAnswersWithoutAnyPort_data();
    void localAnswersWithoutAnyPort();
    void commandDuringStartupBoxGetsLocalAnswer();

private:
    std::unique_ptr<rig::Bridge> openBridge(PtyDevice &device);
    // Writes bytes as the device and waits until the bridge has taken them in (one notification).
    bool deliver(rig::Bridge &bridge, PtyDevice &device, const QByteArray &bytes);
};

std::unique_ptr<rig::Bridge> TestSerialLink::openBridge(PtyDevice &device)
{
    rig::usePort(device.slavePath(), device.slavePath());
    auto bridge = std::make_unique<rig::Bridge>();
    if (!bridge->port()->isOpen() || !bridge->connectClient())
        return nullptr;
    return bridge;
}

bool TestSerialLink::deliver(rig::Bridge &bridge, PtyDevice &device, const QByteArray &bytes)
{
    // Connected after the window's own slot, so when the spy has seen it, the slot has run.
    QSignalSpy readyRead(bridge.port(), SIGNAL(readyRead()));
    return device.send(bytes) && rig::waitFor([&] { return readyRead.count() > 0; }, 3000);
}

void TestSerialLink::tcpCommandReachesDeviceAndReplyComesBack()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    auto bridge = openBridge(device);
    QVERIFY(bridge);

    bridge->send("op status ?");
    QTRY_COMPARE(device.received(), QByteArray("op status ?\r\n"));
    QVERIFY(deliver(*bridge, device, "op status ?\r\n")); // the echo
    QVERIFY(deliver(*bridge, device, "OP STATUS=1\r\n"));
    QTRY_COMPARE(bridge->fromBridge, QByteArray("OP STATUS=1\r\n"));

    QStringList serial = rig::paneLines(bridge->serialPane());
    for (QString &line : serial)
        line = line.trimmed();
    QCOMPARE(serial, QStringList({">op status ?", ">>>op status ?", "<<<OP STATUS=1"}));
    QCOMPARE(rig::paneLines(bridge->tcpPane()).constFirst(), QStringLiteral("TCP>op status ?"));
    QCOMPARE(rig::paneLines(bridge->tcpPane()).constLast().trimmed(), QStringLiteral("<<<OP STATUS=1"));
    QCOMPARE(rig::paneLines(bridge->tcpPane()).size(), 2);
}

void TestSerialLink::manualEditorSendsCommandWithCrOnly()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    auto bridge = openBridge(device);
    QVERIFY(bridge);

    QTest::keyClick(bridge->editor(), Qt::Key_Return);
    QTRY_COMPARE(device.received(), QByteArray("op status ?\r"));
    QCOMPARE(bridge->editor()->text(), QStringLiteral("op status ?"));

    // The echo is recognised by the command's text, whatever the terminators; the reply goes to the client.
    QVERIFY(deliver(*bridge, device, "op status ?\n"));
    QVERIFY(deliver(*bridge, device, "OP STATUS=0\r\n"));
    QTRY_COMPARE(bridge->fromBridge, QByteArray("OP STATUS=0\r\n"));
    QVERIFY(!bridge->tcpPane().contains(QStringLiteral("TCP>")));

    QTest::keyClick(bridge->editor(), Qt::Key_Return);
    QTRY_COMPARE(device.received(), QByteArray("op status ?\rop status ?\r"));
}

void TestSerialLink::replyForwardedByteForByte_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QByteArray>("forwarded");
    QTest::addColumn<QString>("shown");

    QTest::newRow("CR LF kept") << QList<QByteArray>{"OP MODEL=KT5520M\r\n"} << QByteArray("OP MODEL=KT5520M\r\n")
                                << "<<<OP MODEL=KT5520M";
    QTest::newRow("LF alone") << QList<QByteArray>{"OP MODEL=KT5520M\n"} << QByteArray("OP MODEL=KT5520M\n")
                              << "<<<OP MODEL=KT5520M";
    const char nulBytes[] = "OP NAME=A\0B\0\r\n";
    const QByteArray nul(nulBytes, sizeof nulBytes - 1);
    QTest::newRow("NUL bytes") << QList<QByteArray>{nul} << nul << "<<<OP NAME=A";
    const QByteArray invalid("OP NAME=\xff\xfe\xc3\x28\r\n");
    QTest::newRow("invalid UTF-8") << QList<QByteArray>{invalid} << invalid
                                   << QString::fromUtf8("<<<OP NAME=\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd(");
    QTest::newRow("line in two pieces") << QList<QByteArray>{"OP MOD", "EL=KT5520M\r\n"}
                                        << QByteArray("OP MODEL=KT5520M\r\n") << "<<<OP MODEL=KT5520M";
}

void TestSerialLink::replyForwardedByteForByte()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, forwarded);
    QFETCH(QString, shown);

    PtyDevice device;
    QVERIFY(device.isValid());
    auto bridge = openBridge(device);
    QVERIFY(bridge);
    bridge->send("op model ?");
    QTRY_COMPARE(device.received(), QByteArray("op model ?\r\n"));
    QVERIFY(deliver(*bridge, device, "op model ?\r\n"));
    for (const QByteArray &chunk : chunks)
        QVERIFY(deliver(*bridge, device, chunk));

    QTRY_COMPARE(bridge->fromBridge, forwarded);
    QCOMPARE(rig::paneLines(bridge->serialPane()).last().trimmed(), shown);
    QCOMPARE(rig::paneLines(bridge->tcpPane()).last().trimmed(), shown);
}

void TestSerialLink::secondLineOfAChunkWaitsForMoreData()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    auto bridge = openBridge(device);
    QVERIFY(bridge);
    QSignalSpy forwarded(bridge->window.get(), SIGNAL(sigWriteTCPdata(QByteArray)));
    bridge->send("op power ?");
    QTRY_COMPARE(device.received(), QByteArray("op power ?\r\n"));
    QVERIFY(deliver(*bridge, device, "op power ?\r\n"));

    QVERIFY(deliver(*bridge, device, "OP POWER=1\r\nOP INPUT=HDMI1\r\n"));
    QCOMPARE(forwarded.count(), 1);
    QCOMPARE(bridge->port()->bytesAvailable(), qint64(strlen("OP INPUT=HDMI1\r\n")));
    QTRY_COMPARE(bridge->fromBridge, QByteArray("OP POWER=1\r\n"));

    // Any further data from the device lets the waiting line through, one line again.
    QVERIFY(deliver(*bridge, device, "READY\r\n"));
    QTRY_COMPARE(bridge->fromBridge, QByteArray("OP POWER=1\r\nOP INPUT=HDMI1\r\n"));
    QCOMPARE(bridge->port()->bytesAvailable(), qint64(strlen("READY\r\n")));
}

void TestSerialLink::linesThatAreNotRepliesStayInTheSerialPane()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    auto bridge = openBridge(device);
    QVERIFY(bridge);
    QSignalSpy forwarded(bridge->window.get(), SIGNAL(sigWriteTCPdata(QByteArray)));

    // Before any command every "op " line counts as an echo: dropped without a trace.
    QVERIFY(deliver(*bridge, device, "OP POWER=1\r\n"));
    QCOMPARE(rig::paneLines(bridge->serialPane()), QStringList());
    QVERIFY(deliver(*bridge, device, "READY\r\n"));
    QVERIFY(deliver(*bridge, device, "\r\n"));
    bridge->send("op power ?");
    QTRY_COMPARE(device.received(), QByteArray("op power ?\r\n"));
    QVERIFY(deliver(*bridge, device, "power is on\r\n"));

    QCOMPARE(forwarded.count(), 0);
    QCOMPARE(bridge->port()->bytesAvailable(), qint64(0));
    QStringList serial = rig::paneLines(bridge->serialPane());
    for (QString &line : serial)
        line = line.trimmed();
    QCOMPARE(serial, QStringList({"<<<READY", "<<<", ">op power ?", ">>>op power ?", "<<<power is on"}));
    QCOMPARE(rig::paneLines(bridge->tcpPane()), QStringList({"TCP>op power ?"}));
}

void TestSerialLink::onlyOpCommandsReachTheDevice()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    auto bridge = openBridge(device);
    QVERIFY(bridge);
    QSignalSpy answered(bridge->window.get(), SIGNAL(sigWriteTCPdata(QByteArray)));

    // One text per read: wait for each to be logged before sending the next.
    const QList<QByteArray> texts = {"status ?", "   ", "opstatus ?", "xop status ?", "OP POWER ?"};
    int logged = 0;
    for (const QByteArray &text : texts) {
        bridge->send(text);
        ++logged;
        QTRY_COMPARE(rig::paneLines(bridge->tcpPane()).size(), logged);
    }
    QCOMPARE(rig::paneLines(bridge->tcpPane()),
             QStringList({"TCP>status ?", "TCP>", "TCP>opstatus ?", "TCP>xop status ?", "TCP>OP POWER ?"}));
    QTRY_COMPARE(device.received(), QByteArray("OP POWER ?\r\n"));
    QCOMPARE(answered.count(), 0); // a port is present: no local answers
}

void TestSerialLink::localAnswersWithoutAnyPort_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("model") << QByteArray("op model ?") << QByteArray("OP MODEL=KT5520M");
    QTest::newRow("serial number") << QByteArray("op ser.no ?\r\n") << QByteArray("OP SER.NO=ABC-1234567");
    QTest::newRow("model after other text") << QByteArray("please op model ?") << QByteArray("OP MODEL=KT5520M");
    QTest::newRow("status") << QByteArray("op status ?") << QByteArray("op status =NA");
    QTest::newRow("upper case is generic") << QByteArray("OP MODEL ?") << QByteArray("OP MODEL =NA");
    QTest::newRow("white space only") << QByteArray(" \t ") << QByteArray("=NA");
}

void TestSerialLink::localAnswersWithoutAnyPort()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);

    rig::noPorts();
    rig::Bridge bridge;
    QCOMPARE(bridge.boxes.count(), 1);
    QCOMPARE(bridge.boxes.last().title, QStringLiteral("Serial Port Not Available"));
    QVERIFY(!bridge.port()->isOpen());
    QVERIFY(!bridge.window->windowTitle().contains(QStringLiteral(">>>")));
    QVERIFY(bridge.connectClient());

    bridge.send(sent);
    QTRY_COMPARE(bridge.fromBridge, answer);
    QCOMPARE(bridge.boxes.count(), 1);
}

// The no-port box of start-up runs an event loop while the window is still being built.
void TestSerialLink::commandDuringStartupBoxGetsLocalAnswer()
{
    rig::noPorts();
    bool answered = false;
    rig::Bridge bridge([&](rig::Bridge &b) {
        b.boxes.whileOpen = [&](const BoxCatcher::Box &) {
            if (!b.connectClient())
                return;
            b.send("op model ?");
            answered = rig::waitFor([&] { return b.fromBridge == "OP MODEL=KT5520M"; }, 3000);
        };
    });
    QCOMPARE(bridge.boxes.count(), 1);
    QVERIFY(answered);
    QCOMPARE(rig::paneLines(bridge.tcpPane()), QStringList({"TCP>op model ?"}));
}

TOLVANE_TEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
