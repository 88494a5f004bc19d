#pragma once

#include <QObject>
#include <QString>

class MainWindow;
class QTimer;

// The unattended bridge opens its serial port by itself. While the port is closed (missing at start, or
// lost), the device that the settings name is looked for every pollMs and opened once it is there; a
// device that is not there is not tried, so its open fails no box. Each stretch without a port is one
// waiting period, told once through the road's portWaiting.
class Reopener : public QObject
{
    Q_OBJECT

public:
    // A child of the window: it never outlives the port it opens.
    explicit Reopener(MainWindow *window);

    static constexpr int pollMs = 250;

    // Whether the configured port's device is there to be opened. Where ports have no device file
    // (Windows) every look tries the open.
    static bool devicePresent(const QString &port);

private:
    void portClosed();
    void portOpened();
    void look();

    MainWindow *window;
    QTimer *timer;
    bool waiting = false; // portWaiting told for this stretch
    bool opening = false; // an attempt runs, and its boxes run event loops
};
