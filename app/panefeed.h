#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTextDocumentFragment>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <deque>

class QPlainTextEdit;
class RoadEvents;

// The traffic panes' entries, recorded at once and shown a moment later from the event loop. A byte on
// its way through the bridge never waits for a pane to import markup or paint: the writers only queue.
//
// Entries are appended in the order they were written, in short slices with the event loop served
// between them, and the panes are repainted at most every paintIntervalMs. Each entry ends up in its
// pane exactly as a direct appendHtml (then a move of the cursor to the end) or appendPlainText would
// have put it there.
//
// Markup that is costly to import (logpane::isHeavy) is imported on a worker thread, a few entries
// ahead at most; its pane's later entries wait for it, the other pane's do not. An entry longer than a
// pane can lay out in time is shown cut (logpane::shown).
class PaneFeed : public QObject
{
    Q_OBJECT

public:
    enum Pane { TcpPane, SerialPane, PaneCount };

    PaneFeed(QPlainTextEdit *tcp, QPlainTextEdit *serial, QObject *parent = nullptr);
    ~PaneFeed() override;

    // An HTML entry: appended as a new paragraph, then the cursor moves to the end.
    void appendHtml(Pane pane, const QString &html);
    // A plain-text paragraph; the cursor stays where it is.
    void appendPlainText(Pane pane, const QString &text);
    // Empties the pane, the entries still queued or being imported for it included.
    void clear(Pane pane);

    // Traffic has just been handled and more may follow at once: a reply has gone to the control
    // program (answered), whose next command often follows, or a command has gone to the device,
    // whose echo comes in at once. Pane work stands back for holdMs so that it holds nothing up;
    // entries never wait longer than maxDelayMs for this.
    void standBack(bool answered);
    // A command has just gone to the device, which takes a while to answer: it ends the standing
    // back after a reply.
    void goAhead();

    // While a traffic handler runs an event pass of its own (hold, then resume), pane work waits: the
    // pass stays short, so the device data Qt reads meanwhile without announcing it is never more than
    // a byte or two. A modal box or menu opened inside the pass ends the wait.
    void hold() { ++quiet; }
    void resume();

    // Takes the road's entries for the panes, and its turns: after a handled text or a reply pane work
    // stands back, after a command it goes ahead, and it holds through the road's event passes.
    void listen(RoadEvents *road);

    static constexpr qint64 sliceBudgetNs = 500000; // work per turn of the event loop
    static constexpr int sliceMaxEntries = 32;
    static constexpr int paintIntervalMs = 40; // at most 25 repaints a second
    static constexpr int maxPaintWaitMs = 200;
    static constexpr int flowMs = 50; // replies this close together are a flow
    static constexpr int holdMs = 1;
    static constexpr int pauseMs = 2; // no command this long after a reply: the control program paused
    static constexpr int maxDelayMs = 100;
    static constexpr int importsAhead = 2; // heavy entries handed to the worker and not yet shown

private:
    enum class Import { None, Waiting, Running, Done };
    struct Entry {
        quint64 order;
        qint64 queuedAt; // ns on clock
        bool html;
        QString text;
        Import import = Import::None;
        QTextDocumentFragment fragment;
    };

    void enqueue(Pane pane, bool html, const QString &text);
    int queued() const;
    void appendSlice();
    bool appendNext();
    bool ready(const Entry &entry) const;
    void catchUpCursor(int pane);
    void startImports();
    void takeImport(quint64 order, const QTextDocumentFragment &fragment);
    bool holding();
    int holdLeftMs() const;
    bool paintWaits() const;
    void loopWaits();
    void goOn();
    bool isQuiet() const;
    void freeze(int pane);
    void thaw();

    QPlainTextEdit *panes[PaneCount];
    std::deque<Entry> entries[PaneCount];
    quint64 written = 0; // entries recorded so far: their order across the panes
    int importing = 0;   // entries handed to the worker and not yet shown
    bool cursorBehind[PaneCount] = {false, false};
    bool frozen[PaneCount] = {false, false};
    int nextPaint = TcpPane;
    int quiet = 0;            // holds not yet resumed
    bool quietBroken = false; // a loop waits for the user inside them
    QTimer sliceTimer;
    QTimer paintTimer;
    QElapsedTimer clock;
    qint64 lastThaw = 0;  // ns on clock
    qint64 holdUntil = 0; // ns on clock
    qint64 lastReply = -(qint64(1) << 62);
    qint64 lastCommand = -(qint64(1) << 62);
    qint64 lastAnswer = -(qint64(1) << 62);
    bool paintWaiting = false;

    QThread importThread;
    QObject *importer = nullptr; // lives in importThread
    std::atomic<bool> stopping{false};
};
