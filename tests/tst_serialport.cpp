// Opening, closing and losing the serial port, played on a pseudo-terminal.
#include "bridgerig.h"
#include "ptydevice.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const QString titleStart = QStringLiteral("Tolvane-0.9.1.0 UDPRX@35070/IP@");

} // namespace

Q_DECLARE_METATYPE(rig::LineSettings)

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void opensWithTheIniParameters_data();
    void opensWithTheIniParameters();
    void failedReopenReportsErrorKeepsTitleDropsCommands();
    void lostDeviceIsReportedOnceAndThePortCloses();
    void eachLossGetsItsOwnBox();
    void readErrorOnDeadLineIsTakenAsLoss();
    void errorsWithThePortClosed();
    void stoppedLineMakesTheWriteTimeOut();
};

void TestSerialPort::opensWithTheIniParameters_data()
{
    QTest::addColumn<rig::LineSettings>("line");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QSerialPort::DataBits>("dataBits");
    QTest::addColumn<QSerialPort::Parity>("parity");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<bool>("rtsCts");
    QTest::addColumn<bool>("xonXoff");

    QTest::newRow("defaults") << rig::LineSettings() << int(B9600) << QSerialPort::Data8 << QSerialPort::NoParity
                              << false << false << false;
    rig::LineSettings hw;
    hw.baudRate = QStringLiteral("38400");
    hw.dataBits = QStringLiteral("7");
    hw.parity = QStringLiteral("Even");
    hw.stopBits = QStringLiteral("2");
    hw.flowControl = QStringLiteral("RTS/CTS");
    QTest::newRow("38400 7E2 RTS/CTS") << hw << int(B38400) << QSerialPort::Data7 << QSerialPort::EvenParity
                                       << true << true << false;
    rig::LineSettings sw;
    sw.baudRate = QStringLiteral("115200");
    sw.parity = QStringLiteral("Mark");
    sw.flowControl = QStringLiteral("XON/XOFF");
    QTest::newRow("115200 8M1 XON/XOFF") << sw << int(B115200) << QSerialPort::Data8 << QSerialPort::MarkParity
                                         << false << false << true;
}

void TestSerialPort::opensWithTheIniParameters()
{
    QFETCH(rig::LineSettings, line);
    QFETCH(int, speed);
    QFETCH(QSerialPort::DataBits, dataBits);
    QFETCH(QSerialPort::Parity, parity);
    QFETCH(bool, twoStopBits);
    QFETCH(bool, rtsCts);
    QFETCH(bool, xonXoff);

    PtyDevice device;
    QVERIFY(device.isValid());
    const QString path = device.slavePath();
    rig::usePort(path, path, line);
    rig::Bridge bridge;

    QCOMPARE(bridge.boxes.count(), 0);
    QVERIFY(bridge.port()->isOpen());
    QCOMPARE(bridge.status(), QStringLiteral("Connected to %1 : %2, %3, %4, %5, %6")
                                  .arg(path, line.baudRate, line.dataBits, line.parity, line.stopBits, line.flowControl));
    QCOMPARE(bridge.label()->text(),
             QStringLiteral("%1:%2,%3,%4,%5").arg(path, line.baudRate, line.dataBits, line.parity, line.stopBits));
    QVERIFY(bridge.label()->isEnabled());
    QVERIFY(bridge.editor()->isEnabled());
    QVERIFY(bridge.window->windowTitle().startsWith(titleStart));
    QVERIFY2(bridge.window->windowTitle().endsWith(QStringLiteral(" >>>") + path), qPrintable(bridge.window->windowTitle()));

    // What reached the line itself. A pseudo-terminal forces 8 data bits and no parity,
    // so those two are checked on the port.
    termios t {};
    QVERIFY(device.attributes(&t));
    QCOMPARE(int(cfgetospeed(&t)), speed);
    QCOMPARE(int(cfgetispeed(&t)), speed);
    QCOMPARE(bool(t.c_cflag & CSTOPB), twoStopBits);
    QCOMPARE(bool(t.c_cflag & CRTSCTS), rtsCts);
    QCOMPARE(bool(t.c_iflag & IXON), xonXoff);
    QCOMPARE(bool(t.c_iflag & IXOFF), xonXoff);
    QCOMPARE(bridge.port()->dataBits(), dataBits);
    QCOMPARE(bridge.port()->parity(), parity);
}

void TestSerialPort::failedReopenReportsErrorKeepsTitleDropsCommands()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("ttyMissing1"));
    rig::usePort(device.slavePath() + QLatin1Char(',') + missing, device.slavePath());
    rig::Bridge bridge;
    QVERIFY(bridge.port()->isOpen());
    QVERIFY(bridge.connectClient());
    const QString title = bridge.window->windowTitle();
    QSignalSpy answers(bridge.window.get(), SIGNAL(sigWriteTCPdata(QByteArray)));

    // Apply with a port that is gone: the old one closes, the new one fails. A command that
    // arrives while the box is up finds the port closed.
    rig::usePort(device.slavePath() + QLatin1Char(',') + missing, missing);
    bool openDuringBox = true;
    bool loggedDuringBox = false;
    bridge.boxes.whileOpen = [&](const BoxCatcher::Box &) {
        openDuringBox = bridge.port()->isOpen();
        bridge.send("op status ?");
        loggedDuringBox = rig::waitFor([&] { return bridge.serialPane().contains(QStringLiteral(">op status ?")); });
    };
    bridge.window->slotSerialChange();

    QCOMPARE(bridge.boxes.count(), 1);
    const BoxCatcher::Box box = bridge.boxes.last();
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.parentClass, QStringLiteral("MainWindow"));
    QCOMPARE(box.text, bridge.port()->errorString());
    QVERIFY(!box.text.isEmpty());
    QVERIFY(!openDuringBox);
    QVERIFY(loggedDuringBox);
    QCOMPARE(bridge.status(), QStringLiteral("Open error"));
    QVERIFY(!bridge.port()->isOpen());
    QVERIFY(!bridge.label()->isEnabled());
    QVERIFY(!bridge.editor()->isEnabled());
    QCOMPARE(bridge.window->windowTitle(), title);
    QVERIFY(!bridge.serialPane().contains(QStringLiteral(">>>")));
    QCOMPARE(answers.count(), 0);
    QCOMPARE(device.received(), QByteArray());
}

void TestSerialPort::lostDeviceIsReportedOnceAndThePortCloses()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    rig::usePort(device.slavePath(), device.slavePath());
    rig::Bridge bridge;
    QVERIFY(bridge.port()->isOpen());
    QVERIFY(bridge.connectClient());
    const QString connected = bridge.status();

    // While the box is up the port is still open: a command is still tried on the dead line.
    bool openDuringBox = false;
    bool writtenDuringBox = false;
    bridge.boxes.whileOpen = [&](const BoxCatcher::Box &) {
        openDuringBox = bridge.port()->isOpen();
        bridge.send("op power ?");
        writtenDuringBox = rig::waitFor([&] { return bridge.serialPane().contains(QStringLiteral(">>>op power ?")); });
    };
    device.unplug();

    QTRY_COMPARE_WITH_TIMEOUT(bridge.boxes.count(), 1, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(!bridge.port()->isOpen(), 2000);
    const BoxCatcher::Box box = bridge.boxes.last();
    QCOMPARE(box.title, QStringLiteral("Critical Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.parentClass, QStringLiteral("MainWindow"));
    QVERIFY(!box.text.isEmpty());
    QVERIFY(openDuringBox);
    QVERIFY(writtenDuringBox);
    QVERIFY(bridge.serialPane().contains(QStringLiteral("TimeOut!!!")));
    QCOMPARE(bridge.status(), connected);
    QVERIFY(bridge.window->windowTitle().endsWith(device.slavePath()));

    // Idle afterwards: two seconds of event loop cost next to no processor time.
    const double before = cpuSeconds();
    QTest::qWait(2000);
    const double spent = cpuSeconds() - before;
    QVERIFY2(spent < 0.25, qPrintable(QStringLiteral("%1 s of CPU in 2 s idle").arg(spent)));
    QCOMPARE(bridge.boxes.count(), 1);

    // A closed port ignores commands and Return.
    const QString pane = bridge.serialPane();
    QTest::keyClick(bridge.editor(), Qt::Key_Return);
    QCOMPARE(bridge.serialPane(), pane);
    QCOMPARE(bridge.boxes.count(), 1);
}

void TestSerialPort::eachLossGetsItsOwnBox()
{
    auto first = std::make_unique<PtyDevice>();
    QVERIFY(first->isValid());
    rig::usePort(first->slavePath(), first->slavePath());
    rig::Bridge bridge;
    QVERIFY(bridge.port()->isOpen());
    first->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(bridge.boxes.count(), 1, 2000);
    QTRY_VERIFY(!bridge.port()->isOpen());

    // The user plugs in another adapter and applies.
    PtyDevice second;
    QVERIFY(second.isValid());
    rig::usePort(second.slavePath(), second.slavePath());
    bridge.window->slotSerialChange();
    QVERIFY(bridge.port()->isOpen());
    QVERIFY(bridge.window->windowTitle().endsWith(QStringLiteral(" >>>") + second.slavePath()));
    QCOMPARE(bridge.window->windowTitle().count(QStringLiteral(">>>")), 1);
    second.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(bridge.boxes.count(), 2, 2000);
    QCOMPARE(bridge.boxes.last().title, QStringLiteral("Critical Error"));
    QTRY_VERIFY(!bridge.port()->isOpen());
}

// Qt tells of a hung-up line only by reads that return nothing (a read error, or a resource error
// when a stale errno says so). The read error must be enough.
void TestSerialPort::readErrorOnDeadLineIsTakenAsLoss()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    rig::usePort(device.slavePath(), device.slavePath());
    rig::Bridge bridge;
    QVERIFY(bridge.port()->isOpen());

    bridge.window->handleSerialError(QSerialPort::ReadError);
    QCOMPARE(bridge.boxes.count(), 0);
    QVERIFY(bridge.port()->isOpen());

    double spentDuringBox = -1;
    bridge.boxes.whileOpen = [&](const BoxCatcher::Box &) {
        const double before = cpuSeconds();
        QTest::qWait(1000);
        spentDuringBox = cpuSeconds() - before;
    };
    device.unplug();
    bridge.window->handleSerialError(QSerialPort::ReadError);
    QCOMPARE(bridge.boxes.count(), 1);
    QCOMPARE(bridge.boxes.last().title, QStringLiteral("Critical Error"));
    QVERIFY(!bridge.port()->isOpen());
    // The box may stay up for long: the dead line must not keep the processor busy meanwhile.
    QVERIFY2(spentDuringBox >= 0 && spentDuringBox < 0.2, qPrintable(QString::number(spentDuringBox)));
}

void TestSerialPort::errorsWithThePortClosed()
{
    rig::noPorts();
    rig::Bridge bridge;
    bridge.boxes.clear(); // the no-port box of start-up
    const QString pane = bridge.serialPane();

    bridge.window->handleSerialError(QSerialPort::WriteError);
    bridge.window->handleSerialError(QSerialPort::PermissionError);
    QCOMPARE(bridge.boxes.count(), 0);
    bridge.window->handleSerialError(QSerialPort::ResourceError);
    QCOMPARE(bridge.boxes.count(), 1);
    QCOMPARE(bridge.boxes.last().title, QStringLiteral("Serial Port"));
    QCOMPARE(bridge.boxes.last().icon, QMessageBox::Warning);

    bridge.window->writeSerialData("op status ?\r\n");
    QCOMPARE(bridge.boxes.count(), 2);
    QCOMPARE(bridge.boxes.last().title, QStringLiteral("Error"));
    QCOMPARE(bridge.boxes.last().parentClass, QStringLiteral("MainWindow"));
    QCOMPARE(bridge.status(), QStringLiteral("Write Serial Error!"));
    QCOMPARE(bridge.serialPane(), pane);
}

void TestSerialPort::stoppedLineMakesTheWriteTimeOut()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    rig::LineSettings line;
    line.flowControl = QStringLiteral("XON/XOFF");
    rig::usePort(device.slavePath(), device.slavePath(), line);
    rig::Bridge bridge;
    QVERIFY(bridge.port()->isOpen());

    // XOFF from the device stops the line; the terminal driver takes it in a moment of its own.
    QVERIFY(device.send("\x13"));
    QTest::qWait(100);
    QTest::keyClick(bridge.editor(), Qt::Key_Return);
    const QStringList lines = rig::paneLines(bridge.serialPane());
    QVERIFY2(lines.size() >= 2, qPrintable(bridge.serialPane()));
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("TimeOut!!!"));
    QCOMPARE(lines.last().trimmed(), QStringLiteral(">>>op status ?"));
    QCOMPARE(device.received(), QByteArray());

    // XON: the command still goes out.
    QVERIFY(device.send("\x11"));
    QTRY_COMPARE(device.received(), QByteArray("op status ?\r"));
}

TOLVANE_TEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
