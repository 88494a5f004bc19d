// The device going away under live traffic, and a device plugged back in through the settings dialog.
#include "tests/support/bridgerig.h"
#include "net/myudprx.h"
#include "tests/support/ptydevice.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QUdpSocket>

#include <memory>

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void networkKeepsWorkingWhileTheLossBoxIsUp_data();
    void networkKeepsWorkingWhileTheLossBoxIsUp();
    void devicePluggedBackInWorksAfterApply_data();
    void devicePluggedBackInWorksAfterApply();

private:
    static void sendDatagram(const QByteArray &payload);
};

void TestHostile::sendDatagram(const QByteArray &payload)
{
    QUdpSocket socket;
    socket.writeDatagram(payload, QHostAddress::LocalHost, 35070);
}

void TestHostile::networkKeepsWorkingWhileTheLossBoxIsUp_data()
{
    QTest::addColumn<bool>("whileAnsweringProbe");
    QTest::newRow("loss noticed between events") << false;
    QTest::newRow("loss noticed while a probe is answered") << true;
}

// Nobody may be at the screen to close the box: probes and commands must still be handled in its loop.
void TestHostile::networkKeepsWorkingWhileTheLossBoxIsUp()
{
    QFETCH(bool, whileAnsweringProbe);
    auto device = std::make_unique<PtyDevice>();
    QVERIFY(device->isValid());
    rig::usePort(device->slavePath(), device->slavePath());
    rig::Bridge bridge;
    QVERIFY(bridge.port()->isOpen());
    QVERIFY(bridge.connectClient());

    bool probeAnswered = false;
    bool commandRead = false;
    bridge.boxes.whileOpen = [&](const BoxCatcher::Box &) {
        sendDatagram("?ZZ? during the box");
        probeAnswered = rig::waitFor([&] { return bridge.tcpPane().contains(QStringLiteral("?ZZ? during the box")); }, 3000);
        bridge.send("op lamp ?");
        commandRead = rig::waitFor([&] { return bridge.tcpPane().contains(QStringLiteral("TCP>op lamp ?")); }, 3000);
    };

    if (whileAnsweringProbe) {
        // The cable comes out between two pending datagrams, so the probe's event pass is where the
        // bridge first hears of it.
        auto *listener = bridge.window->findChild<MyUdpRX *>();
        QVERIFY(listener);
        connect(listener, &MyUdpRX::sigSendUDPdata, this, [&](const QString &record) {
            if (record.endsWith(QLatin1String("pull the cable")))
                device->unplug();
        });
        sendDatagram("pull the cable");
        sendDatagram("?ZZ? just after");
    } else {
        device->unplug();
    }

    QTRY_COMPARE_WITH_TIMEOUT(bridge.boxes.count(), 1, 5000);
    QCOMPARE(bridge.boxes.last().title, QStringLiteral("Critical Error"));
    QVERIFY2(probeAnswered, "a probe sent while the box was up was not handled");
    QVERIFY2(commandRead, "a command sent while the box was up was not read");
    QTRY_VERIFY(!bridge.port()->isOpen());
    QTRY_VERIFY(bridge.tcpPane().count(QStringLiteral("serial=Tolvane-")) == (whileAnsweringProbe ? 2 : 1));
}

void TestHostile::devicePluggedBackInWorksAfterApply_data()
{
    QTest::addColumn<bool>("sameName");
    QTest::newRow("under its old name") << true;
    QTest::newRow("under a new name") << false;
}

// The user plugs an adapter back in and applies in the settings dialog. Under a new name the first
// Apply still tries the old port (only that attempt refreshes the list), and a second one picks it.
void TestHostile::devicePluggedBackInWorksAfterApply()
{
    QFETCH(bool, sameName);
    auto first = std::make_unique<PtyDevice>();
    QVERIFY(first->isValid());
    const QString firstPath = first->slavePath();
    rig::usePort(firstPath, firstPath);
    rig::Bridge bridge;
    QVERIFY(bridge.port()->isOpen());
    QVERIFY(bridge.connectClient());

    // Plugged in while the bridge still holds the old line, the new adapter gets a new name.
    std::unique_ptr<PtyDevice> second;
    if (!sameName)
        bridge.boxes.whileOpen = [&](const BoxCatcher::Box &) { second = std::make_unique<PtyDevice>(); };
    first->send("op power ?\r\n"); // traffic on the line as it goes
    first->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(bridge.boxes.count(), 1, 5000);
    QTRY_VERIFY(!bridge.port()->isOpen());
    bridge.boxes.whileOpen = nullptr;
    first.reset();
    if (sameName)
        second = std::make_unique<PtyDevice>();
    QVERIFY(second && second->isValid());
    if (sameName && second->slavePath() != firstPath)
        QSKIP("another process took the old terminal name meanwhile");
    QCOMPARE(second->slavePath() == firstPath, sameName);
    qputenv("TOLVANE_SERIAL_PORTS", second->slavePath().toLocal8Bit());

    auto *action = bridge.window->findChild<QAction *>(QStringLiteral("actionConfigSerial"));
    QVERIFY(action);
    int applies = 0;
    while (!bridge.port()->isOpen() && applies < 2) {
        action->trigger();
        QWidget *dialog = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->inherits("SettingsDialog"))
                dialog = w;
        QVERIFY(dialog && dialog->isVisible());
        auto *ports = dialog->findChild<QComboBox *>(QStringLiteral("serialPortInfoListBox"));
        QVERIFY(ports);
        const int row = ports->findText(second->slavePath());
        if (row >= 0)
            ports->setCurrentIndex(row);
        bridge.boxes.clear();
        dialog->findChild<QPushButton *>(QStringLiteral("applyButton"))->click();
        ++applies;
        QVERIFY(!dialog->isVisible());
        if (!bridge.port()->isOpen()) {
            // Only the old, missing port could be tried.
            QCOMPARE(bridge.boxes.count(), 1);
            QCOMPARE(bridge.boxes.last().title, QStringLiteral("Error"));
            QCOMPARE(bridge.status(), QStringLiteral("Open error"));
        }
    }
    QVERIFY(bridge.port()->isOpen());
    QCOMPARE(applies, sameName ? 1 : 2);
    QVERIFY(bridge.window->windowTitle().endsWith(QStringLiteral(" >>>") + second->slavePath()));

    // The road works again, byte for byte, for the client that stayed connected all along.
    bridge.send("op model ?");
    QTRY_COMPARE(second->received(), QByteArray("op model ?\r\n"));
    QSignalSpy arrived(bridge.port(), SIGNAL(readyRead()));
    QVERIFY(second->send("op model ?\r\n"));
    QVERIFY(rig::waitFor([&] { return arrived.count() > 0; }, 3000));
    QVERIFY(second->send("OP MODEL=KT5520M\r\n"));
    QTRY_COMPARE(bridge.fromBridge, QByteArray("OP MODEL=KT5520M\r\n"));
}

TOLVANE_TEST_MAIN(TestHostile)
#include "tst_hostile.moc"
