#pragma once

#include "core/servicelog.h"

#include <QObject>

class MainWindow;

// The bridge with nobody at the screen (tolvane --service). Every message box the window would show
// becomes one line on stderr with its title and text and is closed at once, so nothing waits for a
// click; the panes keep no text; with logTraffic each entry they would have shown is a plain line.
// Make it before the window: the window's constructor may already show boxes.
class Unattended : public QObject
{
    Q_OBJECT

public:
    explicit Unattended(bool logTraffic, QObject *parent = nullptr);
    ~Unattended() override;

    // Takes the window's traffic away from its panes.
    void attach(MainWindow *window);

    // stderr is the journal (systemd's JOURNAL_STREAM names it): lines carry priority prefixes.
    static bool stderrIsJournal();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void write(servicelog::Priority priority, const QString &title, const QString &text);

    bool logTraffic;
    bool journal;
};
