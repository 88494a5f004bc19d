// The device going away: unplugged under live traffic, gone when the port is reopened, and plugged
// back in through the settings dialog. Real TCP sockets and a pseudo-terminal played by the test.
#include "tests/support/bridgerig.h"
#include "app/unattended.h"
#include "net/myudprx.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QUdpSocket>

namespace {

void sendDatagram(const QByteArray &payload)
{
    QUdpSocket socket;
    socket.writeDatagram(payload, QHostAddress::LocalHost, product::udpRxPort);
}

// How many of the port's notifiers still watch its line. On a hung-up line each of them fires on
// every turn of the event loop, which keeps the processor busy while nobody closes the box.
int watchers(QSerialPort *port)
{
    int enabled = 0;
    for (const QSocketNotifier *notifier : port->findChildren<QSocketNotifier *>())
        enabled += notifier->isEnabled() ? 1 : 0;
    return enabled;
}

} // namespace

class TestDeviceLoss : public QObject, rig::DeviceBridge
{
    Q_OBJECT

    // The name the bridge knows the device by: a link of our own, so a device plugged back in gets
    // its old name whatever terminal the system hands out.
    QTemporaryDir names;
    const QString alias = names.filePath(QStringLiteral("ttyProjector"));

    bool lossBoxShown(int count)
    {
        return rig::waitFor([&] { return bridge->boxes.count() == count && !bridge->port()->isOpen(); })
            && bridge->boxes.last().title == QLatin1String("Critical Error")
            && bridge->boxes.last().parentClass == QLatin1String("MainWindow");
    }

private slots:
    void cleanup() { close(); }

    void lossIsReportedOnceWhileTheNetworkGoesOn_data()
    {
        QTest::addColumn<bool>("whileAnsweringProbe");
        QTest::newRow("loss noticed between events") << false;
        QTest::newRow("loss noticed while a probe is answered") << true;
    }

    // Nobody may be at the screen to close a box: probes and commands are still handled in its loop,
    // and the dead line is neither watched (that would spin) nor retried meanwhile. Then the user
    // applies: a port that is gone, then another adapter.
    void lossIsReportedOnceWhileTheNetworkGoesOn()
    {
        QFETCH(bool, whileAnsweringProbe);
        QVERIFY(open());
        QStringList wrong; // what went wrong while the box was up
        const auto expect = [&](bool ok, const char *what) { wrong << (ok ? QString() : what); };
        bridge->boxes.whileOpen = [&](const BoxCatcher::Box &) {
            expect(bridge->port()->isOpen(), "port closed before the box was");
            expect(rig::waitFor([&] { return watchers(bridge->port()) == 0; }), "dead line still watched");
            sendDatagram("?ZZ? during the box");
            expect(rig::waitFor([&] { return bridge->tcpPane().contains(QStringLiteral("?ZZ? during the box")); }),
                   "probe not handled");
            bridge->send("op power ?"); // the port is still open: tried on the dead line
            expect(rig::waitFor([&] { return bridge->serialPane().contains(QStringLiteral(">>>op power ?")); }),
                   "command not handled");
            expect(rig::waitFor([&] { return watchers(bridge->port()) == 0; }) && bridge->port()->bytesToWrite() == 0,
                   "command still retried");
        };
        if (whileAnsweringProbe) {
            // The cable comes out between two pending datagrams, so the probe's event pass is where the
            // bridge first hears of it.
            connect(bridge->window->findChild<MyUdpRX *>(), &MyUdpRX::sigSendUDPdata, this, [&](const QString &record) {
                if (record.endsWith(QLatin1String("pull the cable")))
                    device->unplug();
            });
            sendDatagram("pull the cable");
            sendDatagram("?ZZ? just after");
        } else {
            device->unplug();
        }
        QVERIFY(lossBoxShown(1));
        QCOMPARE(wrong.join(QString()), QString());
        const QString replyTag = QStringLiteral("serial=%1-").arg(QLatin1String(product::appName));
        QTRY_COMPARE_WITH_TIMEOUT(bridge->tcpPane().count(replyTag), whileAnsweringProbe ? 2 : 1, testenv::patience);
        QCOMPARE(bridge->boxes.count(), 1);

        // Applied, a port that is gone gets an "Error" box, while which a command finds the port closed.
        const QString gone = names.filePath(QStringLiteral("gone"));
        rig::usePort(gone, gone);
        bridge->boxes.whileOpen = [&](const BoxCatcher::Box &) {
            expect(!bridge->port()->isOpen(), "port open during the Error box");
            bridge->send("op status ?");
            expect(rig::waitFor([&] { return bridge->serialPane().contains(QStringLiteral(">op status ?")); }),
                   "command not read");
        };
        bridge->window->slotSerialChange();
        QCOMPARE(wrong.join(QString()), QString());
        const BoxCatcher::Box box = bridge->boxes.last();
        QCOMPARE(box.title + box.parentClass + ": " + box.text, "ErrorMainWindow: " + bridge->port()->errorString());
        QVERIFY(box.icon == QMessageBox::Critical && bridge->boxes.count() == 2);
        QVERIFY(bridge->status() == QLatin1String("Open error") && !bridge->editor()->isEnabled());

        // Another adapter, applied: its loss gets a box of its own.
        bridge->boxes.whileOpen = nullptr;
        PtyDevice second;
        rig::usePort(second.slavePath(), second.slavePath());
        bridge->window->slotSerialChange();
        QVERIFY(bridge->port()->isOpen());
        second.unplug();
        QVERIFY(lossBoxShown(3));
    }

    // The event loop can hand the port a notice of data that a nested read has already taken (a wait
    // for bytes written reads too). Qt takes the read that finds nothing for a resource error and
    // stops reading. The device is fine: no box, and the road goes on.
    void staleReadNoticeIsNoLoss()
    {
        QVERIFY(open());
        QSerialPort *port = bridge->port();
        int resourceErrors = 0;
        connect(port, &QSerialPort::errorOccurred, this,
                [&](QSerialPort::SerialPortError error) { resourceErrors += error == QSerialPort::ResourceError; });
        for (QSocketNotifier *notifier : port->findChildren<QSocketNotifier *>()) {
            QEvent notice(QEvent::SockAct);
            if (notifier->type() == QSocketNotifier::Read)
                QCoreApplication::sendEvent(notifier, &notice);
        }
        QCOMPARE(resourceErrors, 1);

        bridge->send(product::modelQuery);
        QVERIFY(deliver(QByteArray(product::modelQuery) + "\r\n"));
        const QByteArray reply = QByteArray(product::modelAnswer) + "\r\n";
        QVERIFY(device->send(reply));
        QTRY_COMPARE_WITH_TIMEOUT(bridge->fromBridge, reply, testenv::patience);
        QVERIFY(port->isOpen());
        QCOMPARE(bridge->boxes.count(), 0);
    }

    void pluggedBackInWorksAfterApply_data()
    {
        QTest::addColumn<bool>("sameName");
        QTest::newRow("under its old name") << true;
        QTest::newRow("under a new name") << false;
    }

    // The user plugs an adapter back in and applies in the settings dialog. Under a new name the first
    // Apply still tries the old port (only that attempt refreshes the list), and a second one picks it.
    void pluggedBackInWorksAfterApply()
    {
        QFETCH(bool, sameName);
        QVERIFY(open({}, alias));
        const QString oldName = bridge->port()->portName();

        // Plugged in while the bridge still holds the old line, the new adapter gets a new terminal.
        std::unique_ptr<PtyDevice> second;
        bridge->boxes.whileOpen = [&](const BoxCatcher::Box &) { second = std::make_unique<PtyDevice>(); };
        device->send("op power ?\r\n"); // traffic on the line as it goes
        device->unplug();
        QVERIFY(lossBoxShown(1));
        bridge->boxes.whileOpen = nullptr;
        QFile::remove(oldName); // the link goes with the adapter, as the system's own links do
        QVERIFY(second && second->isValid());
        const QString newName = sameName ? second->linkAs(alias) : second->slavePath();
        QCOMPARE(newName == oldName, sameName);
        qputenv("TOLVANE_SERIAL_PORTS", newName.toLocal8Bit());

        auto *action = bridge->window->findChild<QAction *>(QStringLiteral("actionConfigSerial"));
        QVERIFY(action);
        int applies = 0;
        for (; !bridge->port()->isOpen() && applies < 2; ++applies) {
            action->trigger();
            QWidget *dialog = nullptr;
            for (QWidget *w : QApplication::topLevelWidgets())
                dialog = w->inherits("SettingsDialog") ? w : dialog;
            QVERIFY(dialog && dialog->isVisible());
            auto *ports = dialog->findChild<QComboBox *>(QStringLiteral("serialPortInfoListBox"));
            const int row = ports->findText(newName);
            ports->setCurrentIndex(row >= 0 ? row : ports->currentIndex());
            dialog->findChild<QPushButton *>(QStringLiteral("applyButton"))->click();
            QVERIFY(!dialog->isVisible());
        }
        QVERIFY(bridge->port()->isOpen());
        QCOMPARE(applies, sameName ? 1 : 2); // under a new name the first Apply failed on the old port
        QCOMPARE(bridge->boxes.count(), sameName ? 1 : 2);
        QVERIFY(bridge->window->windowTitle().endsWith(QStringLiteral(" >>>") + newName));

        // The road works again, byte for byte, for the client that stayed connected all along.
        bridge->send(product::modelQuery);
        QTRY_COMPARE_WITH_TIMEOUT(second->received(), QByteArray(product::modelQuery) + "\r\n", testenv::patience);
        QVERIFY(deliver(QByteArray(product::modelQuery) + "\r\n", second.get()));
        const QByteArray reply = QByteArray(product::modelAnswer) + "\r\n";
        QVERIFY(second->send(reply));
        QTRY_COMPARE_WITH_TIMEOUT(bridge->fromBridge, reply, testenv::patience);
    }

    // Unattended, a port that no look at the port list found at start is opened once it is listed:
    // the bridge answers commands itself until then, and the device answers them afterwards.
    void unattendedOpensPortListedLater()
    {
        device = std::make_unique<PtyDevice>();
        rig::usePort(QString(), device->slavePath());
        Unattended unattended(false);
        bridge = std::make_unique<rig::Bridge>();
        unattended.attach(bridge->window.get());
        QVERIFY(bridge->connectClient() && !bridge->port()->isOpen());
        bridge->send("op model ?");
        QTRY_COMPARE_WITH_TIMEOUT(bridge->fromBridge, QByteArray(product::modelAnswer), testenv::patience);
        QCOMPARE(bridge->boxes.last().title, QStringLiteral("Serial Port Not Available"));

        qputenv("TOLVANE_SERIAL_PORTS", device->slavePath().toLocal8Bit());
        QTRY_VERIFY_WITH_TIMEOUT(bridge->port()->isOpen(), testenv::patience);
        bridge->fromBridge.clear();
        bridge->send("op model ?");
        QTRY_COMPARE_WITH_TIMEOUT(device->received(), QByteArray("op model ?\r\n"), testenv::patience);
        QVERIFY(bridge->fromBridge.isEmpty());
    }
};

TOLVANE_TEST_MAIN(TestDeviceLoss)
#include "tst_deviceloss.moc"
