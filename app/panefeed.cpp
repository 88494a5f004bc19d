#include "app/panefeed.h"

#include <QPlainTextEdit>
#include <QTextCursor>

PaneFeed::PaneFeed(QPlainTextEdit *tcp, QPlainTextEdit *serial, QObject *parent)
    : QObject(parent)
    , panes{tcp, serial}
{
    sliceTimer.setSingleShot(true);
    sliceTimer.setTimerType(Qt::PreciseTimer);
    connect(&sliceTimer, &QTimer::timeout, this, &PaneFeed::appendSlice);
    paintTimer.setSingleShot(true);
    paintTimer.setTimerType(Qt::PreciseTimer);
    connect(&paintTimer, &QTimer::timeout, this, &PaneFeed::thaw);
    clock.start();
}

void PaneFeed::appendHtml(Pane pane, const QString &html)
{
    enqueue(pane, true, html);
}

void PaneFeed::appendPlainText(Pane pane, const QString &text)
{
    enqueue(pane, false, text);
}

void PaneFeed::enqueue(Pane pane, bool html, const QString &text)
{
    entries[pane].push_back(Entry{written++, clock.nsecsElapsed(), html, text});
    if (!sliceTimer.isActive())
        sliceTimer.start(0);
}

void PaneFeed::clear(Pane pane)
{
    entries[pane].clear();
    panes[pane]->clear();
}

void PaneFeed::standBack()
{
    holdUntil = clock.nsecsElapsed() + holdMs * 1000000LL;
}

// True while standing back; the oldest entry's age ends it.
bool PaneFeed::holding()
{
    const qint64 now = clock.nsecsElapsed();
    if (now >= holdUntil)
        return false;
    for (const auto &queue : entries) {
        if (!queue.empty() && now - queue.front().queuedAt >= maxDelayMs * 1000000LL)
            return false;
    }
    return true;
}

int PaneFeed::queued() const
{
    return int(entries[TcpPane].size() + entries[SerialPane].size());
}

// The oldest entry of either pane.
bool PaneFeed::appendNext()
{
    int pane = -1;
    for (int p = 0; p < PaneCount; ++p) {
        if (!entries[p].empty() && (pane < 0 || entries[p].front().order < entries[pane].front().order))
            pane = p;
    }
    if (pane < 0)
        return false;
    const Entry entry = std::move(entries[pane].front());
    entries[pane].pop_front();
    if (entry.html) {
        panes[pane]->appendHtml(entry.text);
        cursorBehind[pane] = true;
    } else {
        catchUpCursor(pane);
        panes[pane]->appendPlainText(entry.text);
    }
    return true;
}

// Nothing can look at a pane between two entries of one slice, so a run of HTML entries moves the
// cursor to the end once, after the last of them, with the same result.
void PaneFeed::catchUpCursor(int pane)
{
    if (!cursorBehind[pane])
        return;
    cursorBehind[pane] = false;
    panes[pane]->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
}

void PaneFeed::appendSlice()
{
    if (holding()) {
        sliceTimer.start(holdMs);
        return;
    }
    freeze();
    QElapsedTimer spent;
    spent.start();
    for (int n = 0; n < sliceMaxEntries && spent.nsecsElapsed() < sliceBudgetNs; ++n) {
        if (!appendNext())
            break;
    }
    for (int pane = 0; pane < PaneCount; ++pane)
        catchUpCursor(pane);
    if (queued() > 0)
        sliceTimer.start(0); // the rest after the sockets and the port have been served
    if (!paintTimer.isActive())
        paintTimer.start(int(qMax<qint64>(0, paintIntervalMs - (clock.nsecsElapsed() - lastThaw) / 1000000)));
}

// While entries go in, the panes do not paint; the next paint shows all of them at once.
void PaneFeed::freeze()
{
    if (frozen)
        return;
    frozen = true;
    for (QPlainTextEdit *pane : panes)
        pane->setUpdatesEnabled(false);
}

void PaneFeed::thaw()
{
    paintTimer.stop();
    if (!frozen)
        return;
    if (holding()) {
        paintTimer.start(holdMs);
        return;
    }
    frozen = false;
    lastThaw = clock.nsecsElapsed();
    for (QPlainTextEdit *pane : panes)
        pane->setUpdatesEnabled(true);
}
