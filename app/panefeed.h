#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QPlainTextEdit;

// The traffic panes' entries, recorded at once and shown a moment later from the event loop. A byte on
// its way through the bridge never waits for a pane to import markup or paint: the writers only queue.
//
// Entries are appended in the order they were written, across both panes, in short slices with the
// event loop served between them, and each pane is repainted at most every paintIntervalMs. Each
// entry is replayed exactly as a direct write would do it (appendHtml and a move of the cursor to
// the end, or appendPlainText), so the panes end up as they would have without the queue.
class PaneFeed : public QObject
{
    Q_OBJECT

public:
    enum Pane { TcpPane, SerialPane, PaneCount };

    PaneFeed(QPlainTextEdit *tcp, QPlainTextEdit *serial, QObject *parent = nullptr);

    // An HTML entry: appended as a new paragraph, then the cursor moves to the end.
    void appendHtml(Pane pane, const QString &html);
    // A plain-text paragraph; the cursor stays where it is.
    void appendPlainText(Pane pane, const QString &text);
    // Empties the pane, the entries still queued for it included.
    void clear(Pane pane);

    // A reply has just gone to the control program, whose next command often follows at once: pane
    // work stands back for holdMs so that command is not held up. Entries never wait longer than
    // maxDelayMs for this.
    void standBack();

    static constexpr qint64 sliceBudgetNs = 500000; // work per turn of the event loop
    static constexpr int sliceMaxEntries = 32;
    static constexpr int paintIntervalMs = 40; // at most 25 repaints a second
    static constexpr int holdMs = 1;
    static constexpr int maxDelayMs = 100;

private:
    struct Entry {
        quint64 order;
        qint64 queuedAt; // ns on clock
        bool html;
        QString text;
    };

    void enqueue(Pane pane, bool html, const QString &text);
    int queued() const;
    void appendSlice();
    bool appendNext();
    void catchUpCursor(int pane);
    bool holding();
    void freeze();
    void thaw();

    QPlainTextEdit *panes[PaneCount];
    std::deque<Entry> entries[PaneCount];
    quint64 written = 0; // entries recorded so far: their order across the panes
    QTimer sliceTimer;
    QTimer paintTimer;
    QElapsedTimer clock;
    qint64 lastThaw = 0;        // ns on clock
    qint64 holdUntil = 0;       // ns on clock
    bool cursorBehind[PaneCount] = {false, false};
    bool frozen = false;
};
