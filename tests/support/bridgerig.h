#pragma once

// A whole bridge for end-to-end tests: the INI file, the port list override, a box catcher, the main
// window and a real TCP client on the bridge's port.

#include "tests/support/boxcatcher.h"
#include "app/mainwindow.h"
#include "core/product.h"
#include "core/settingsfile.h"
#include "tests/support/ptydevice.h"
#include "tests/support/testenv.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpSocket>

#include <memory>

namespace rig {

// Runs the event loop until the condition holds, at most the given time.
template <typename Condition> bool waitFor(Condition condition, int timeoutMs = testenv::patience)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

struct LineSettings {
    QString baudRate = "9600", dataBits = "8", parity = "None", stopBits = "1", flowControl = "None";
};

// The ports the bridge will list, and the one its INI file names.
inline void usePort(const QString &listed, const QString &iniPort, const LineSettings &line = LineSettings())
{
    qputenv("TOLVANE_SERIAL_PORTS", listed.toLocal8Bit());
    // Removed first: QSettings' cache would not notice a file rewritten within the same millisecond.
    QFile::remove(testenv::iniFile());
    settingsfile::Texts texts;
    texts.port = iniPort;
    texts.baudRate = line.baudRate;
    texts.dataBits = line.dataBits;
    texts.parity = line.parity;
    texts.stopBits = line.stopBits;
    texts.flowControl = line.flowControl;
    settingsfile::write(testenv::iniFile(), texts);
}

inline void noPorts() { qputenv("TOLVANE_SERIAL_PORTS", ""); }

// Catcher first: the window's constructor may already show boxes.
struct Bridge {
    BoxCatcher boxes;
    std::unique_ptr<MainWindow> window;
    QTcpSocket client;
    QByteArray fromBridge; // everything the TCP client received

    // prepare runs before the window is built, e.g. to act inside boxes its constructor shows.
    explicit Bridge(const std::function<void(Bridge &)> &prepare = {})
    {
        QObject::connect(&client, &QTcpSocket::readyRead, [this] { fromBridge += client.readAll(); });
        if (prepare)
            prepare(*this);
        window.reset(new MainWindow);
    }
    ~Bridge()
    {
        client.abort();
        window.reset();
    }

    // Connects the client and waits until the server has taken it as its current client.
    bool connectClient()
    {
        const int before = window ? window->findChildren<QTcpSocket *>().size() : 0;
        client.connectToHost(QHostAddress::LocalHost, product::tcpPort);
        // Inside the constructor's boxes there is no window yet to see the server take it.
        return client.waitForConnected(testenv::patience)
            && (!window || waitFor([&] { return window->findChildren<QTcpSocket *>().size() > before; }));
    }
    void send(const QByteArray &bytes)
    {
        client.write(bytes);
        client.flush();
    }

    QSerialPort *port() const { return window->findChild<QSerialPort *>(); }
    QString pane(const char *name) const { return window->findChild<QPlainTextEdit *>(name)->toPlainText(); }
    QString serialPane() const { return pane("plainTextEditSerial"); }
    QString tcpPane() const { return pane("plainTextEditTCP"); }
    QString status() const { return window->statusBar()->currentMessage(); }
    QLabel *label() const { return window->findChild<QLabel *>("labelSerialPort"); }
    QLineEdit *editor() const { return window->findChild<QLineEdit *>("lineEditSerial"); }
};

// A bridge on a pseudo-terminal that the test plays as its device, with the TCP client connected: a
// base for test objects (call close() in cleanup).
struct DeviceBridge {
    std::unique_ptr<PtyDevice> device;
    std::unique_ptr<Bridge> bridge;

    // `alias`, when given, is a link to the terminal that the bridge knows the device by.
    bool open(const LineSettings &line = LineSettings(), const QString &alias = QString())
    {
        close();
        device = std::make_unique<PtyDevice>();
        const QString name = alias.isEmpty() ? device->slavePath() : device->linkAs(alias);
        usePort(name, name, line);
        bridge = std::make_unique<Bridge>();
        return device->isValid() && !name.isEmpty() && bridge->port()->isOpen() && bridge->connectClient();
    }
    void close()
    {
        bridge.reset();
        device.reset();
    }
    // Writes bytes as the device and waits until the bridge has taken them in: the spy is connected
    // after the window's own slot, so when it has seen one notification, the slot has run.
    bool deliver(const QByteArray &bytes, PtyDevice *from = nullptr)
    {
        QSignalSpy readyRead(bridge->port(), SIGNAL(readyRead()));
        return (from ? from : device.get())->send(bytes) && waitFor([&] { return readyRead.count() > 0; });
    }
};

// The pane's lines, trimmed, after the initial text if it is still there.
inline QStringList paneLines(const QString &pane)
{
    QStringList lines;
    for (const QString &line : pane.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.trimmed();
    if (!lines.isEmpty() && lines.first() == QLatin1String("Wait serial connection..."))
        lines.removeFirst();
    return lines;
}

} // namespace rig
