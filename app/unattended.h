#pragma once

#include "core/servicelog.h"

#include <QObject>
#include <QSet>

class MainWindow;

// The bridge with nobody at the screen (tolvane --service). Every message box the window would show
// becomes one line on stderr with its title and text and is closed at once, so nothing waits for a
// click; the panes keep no text; with logTraffic each entry they would have shown is a plain line.
// The serial port is opened again by itself whenever its device is back (a Reopener); the port waiting
// and opening are a line each, and a box line is not repeated until the port opens again, so trying a
// port that keeps failing writes its reason once.
// Make it before the window: the window's constructor may already show boxes.
class Unattended : public QObject
{
    Q_OBJECT

public:
    explicit Unattended(bool logTraffic, QObject *parent = nullptr);
    ~Unattended() override;

    // Takes the window's traffic away from its panes, and keeps its port open whenever it can be.
    void attach(MainWindow *window);

    // stderr is the journal (systemd's JOURNAL_STREAM names it): lines carry priority prefixes.
    static bool stderrIsJournal();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void write(servicelog::Priority priority, const QString &title, const QString &text);
    void writeLine(const QString &line);

    bool logTraffic;
    bool journal;
    QSet<QString> boxesSinceOpen; // lines of the boxes shown since the port last opened
};
