// The whole road with the virtual projector on the line: TCP client, bridge, pseudo-terminal, device.
#include "bridgerig.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

// The virtual projector, built next to the tests; stopped by its own process id. Its replies come
// 50 ms after the echo, as a real projector's do: the bridge takes one line per arrival of data, so
// an echo and a reply that reach it together would leave the reply waiting for the next data.
class Projector
{
public:
    bool start(const QStringList &arguments)
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/virtual-projector");
        if (!QFile::exists(program))
            return false;
        process.setProgram(program);
        process.setArguments(QStringList({QStringLiteral("--delay"), QStringLiteral("50")}) + arguments);
        process.start();
        if (!process.waitForStarted(3000))
            return false;
        while (!process.canReadLine() && process.waitForReadyRead(3000)) {
        }
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !path.isEmpty();
    }
    ~Projector()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(3000))
                process.kill();
            process.waitForFinished(1000);
        }
    }

    QProcess process;
    QString path;
};

} // namespace

class TestProjectorLink : public QObject
{
    Q_OBJECT

private slots:
    void queriesAndSettingsTravelTheWholeRoad();
    void unpluggedProjectorClosesThePort();
};

void TestProjectorLink::queriesAndSettingsTravelTheWholeRoad()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("projector.log"));
    Projector projector;
    if (!projector.start({QStringLiteral("--log"), log}))
        QSKIP("virtual-projector is not built next to the tests");

    rig::LineSettings line;
    line.baudRate = QStringLiteral("19200");
    line.stopBits = QStringLiteral("2");
    line.flowControl = QStringLiteral("RTS/CTS");
    rig::usePort(projector.path, projector.path, line);
    rig::Bridge bridge;
    QVERIFY(bridge.port()->isOpen());
    QVERIFY(bridge.connectClient());

    bridge.send("op model ?");
    QTRY_COMPARE(bridge.fromBridge, QByteArray("OP MODEL=KT5520M\r\n"));
    bridge.send("op input = HDMI2");
    QTRY_COMPARE(bridge.fromBridge, QByteArray("OP MODEL=KT5520M\r\nOP INPUT=HDMI2\r\n"));
    bridge.send("OP INPUT ?");
    QTRY_COMPARE(bridge.fromBridge, QByteArray("OP MODEL=KT5520M\r\nOP INPUT=HDMI2\r\nOP INPUT=HDMI2\r\n"));

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString events = QString::fromUtf8(file.readAll());
    QVERIFY2(events.contains(QStringLiteral("RX op model ?\\r\\n")), qPrintable(events));
    QVERIFY2(events.contains(QStringLiteral("RX op input = HDMI2\\r\\n")), qPrintable(events));
    QVERIFY2(events.contains(QRegularExpression(QStringLiteral("TERMIOS speed=19200 .*cstopb=1 .*crtscts=1"))),
             qPrintable(events));
    QCOMPARE(bridge.boxes.count(), 0);
}

void TestProjectorLink::unpluggedProjectorClosesThePort()
{
    Projector projector;
    if (!projector.start({QStringLiteral("--unplug-after"), QStringLiteral("1")}))
        QSKIP("virtual-projector is not built next to the tests");
    rig::usePort(projector.path, projector.path);
    rig::Bridge bridge;
    QVERIFY(bridge.port()->isOpen());
    QVERIFY(bridge.connectClient());

    bridge.send("op status ?");
    QTRY_COMPARE(bridge.fromBridge, QByteArray("OP STATUS=1\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(bridge.boxes.count(), 1, 3000);
    QCOMPARE(bridge.boxes.last().title, QStringLiteral("Critical Error"));
    QTRY_VERIFY(!bridge.port()->isOpen());
}

TOLVANE_TEST_MAIN(TestProjectorLink)
#include "tst_projectorlink.moc"
