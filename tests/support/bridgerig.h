#pragma once

// A whole bridge for end-to-end tests: the INI file, the port list override, a box catcher, the main
// window and a real TCP client on port 7000. Header-only.

#include "boxcatcher.h"
#include "mainwindow.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSerialPort>
#include <QSettings>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTest>

#include <functional>
#include <memory>

namespace rig {

// Runs the event loop until the condition holds, at most the given time.
template <typename Condition>
bool waitFor(Condition condition, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

struct LineSettings {
    QString baudRate = QStringLiteral("9600");
    QString dataBits = QStringLiteral("8");
    QString parity = QStringLiteral("None");
    QString stopBits = QStringLiteral("1");
    QString flowControl = QStringLiteral("None");
};

// The ports the bridge will list, and the one its INI file names.
inline void usePort(const QString &listed, const QString &iniPort, const LineSettings &line = LineSettings())
{
    qputenv("TOLVANE_SERIAL_PORTS", listed.toLocal8Bit());
    const QString ini = testenv::iniFile();
    QDir().mkpath(QFileInfo(ini).absolutePath());
    QFile::remove(ini);
    QSettings file(ini, QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Default"));
    file.setValue(QStringLiteral("Port"), iniPort);
    file.setValue(QStringLiteral("BaudRate"), line.baudRate);
    file.setValue(QStringLiteral("DataBits"), line.dataBits);
    file.setValue(QStringLiteral("Parity"), line.parity);
    file.setValue(QStringLiteral("StopBits"), line.stopBits);
    file.setValue(QStringLiteral("FlowControl"), line.flowControl);
    file.setValue(QStringLiteral("LocalEcho"), true);
    file.endGroup();
    file.sync();
}

inline void noPorts()
{
    qputenv("TOLVANE_SERIAL_PORTS", "");
}

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
        // The settings dialog has no parent and outlives the window by design; tests tidy it up.
        // Guarded: deleting it also deletes top-level children of its own (combo box pop-ups).
        QList<QPointer<QWidget>> tops;
        for (QWidget *w : QApplication::topLevelWidgets())
            tops.append(w);
        for (const QPointer<QWidget> &w : tops)
            if (w && w->inherits("SettingsDialog"))
                delete w.data();
    }

    // Connects the client and waits until the server has taken it as its current client.
    bool connectClient()
    {
        if (!window) // inside the constructor's boxes: no way to see the server take it yet
            return (client.connectToHost(QHostAddress::LocalHost, 7000), client.waitForConnected(3000));
        const int before = window->findChildren<QTcpSocket *>().size();
        client.connectToHost(QHostAddress::LocalHost, 7000);
        if (!client.waitForConnected(3000))
            return false;
        return waitFor([&] { return window->findChildren<QTcpSocket *>().size() > before; }, 3000);
    }
    void send(const QByteArray &bytes)
    {
        client.write(bytes);
        client.flush();
    }

    QSerialPort *port() const { return window->findChild<QSerialPort *>(); }
    QString serialPane() const { return window->findChild<QPlainTextEdit *>(QStringLiteral("plainTextEditSerial"))->toPlainText(); }
    QString tcpPane() const { return window->findChild<QPlainTextEdit *>(QStringLiteral("plainTextEditTCP"))->toPlainText(); }
    QString status() const { return window->statusBar()->currentMessage(); }
    QLabel *label() const { return window->findChild<QLabel *>(QStringLiteral("labelSerialPort")); }
    QLineEdit *editor() const { return window->findChild<QLineEdit *>(QStringLiteral("lineEditSerial")); }
};

// The pane's lines after the initial text, if it is still there.
inline QStringList paneLines(const QString &pane)
{
    QStringList lines = pane.isEmpty() ? QStringList() : pane.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.first() == QLatin1String("Wait serial connection..."))
        lines.removeFirst();
    return lines;
}

} // namespace rig
