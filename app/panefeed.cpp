#include "app/panefeed.h"

#include "app/panedocument.h"
#include "app/roadevents.h"
#include "core/logpane.h"

#include <QAbstractEventDispatcher>
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
    if (auto *dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &PaneFeed::loopWaits);
    clock.start();
}

PaneFeed::~PaneFeed()
{
    // An import that runs is finished (there is no stopping it half way); none starts after it.
    stopping = true;
    importThread.quit();
    importThread.wait();
    delete importer;
}

void PaneFeed::listen(RoadEvents *road)
{
    connect(road, &RoadEvents::paneEntry, this,
            [this](RoadEvents::Pane pane, const QString &text, bool html) { enqueue(Pane(pane), html, text); });
    connect(road, &RoadEvents::textHandled, this, &PaneFeed::standBack);
    connect(road, &RoadEvents::commandWritten, this, &PaneFeed::goAhead);
    connect(road, &RoadEvents::replyTaken, this, [this] { standBack(true); });
    connect(road, &RoadEvents::passBegins, this, &PaneFeed::hold);
    connect(road, &RoadEvents::passEnds, this, &PaneFeed::resume);
}

void PaneFeed::appendHtml(Pane pane, const QString &html) { enqueue(pane, true, html); }

void PaneFeed::appendPlainText(Pane pane, const QString &text) { enqueue(pane, false, text); }

void PaneFeed::enqueue(Pane pane, bool html, const QString &text)
{
    const QString shown = logpane::shown(text);
    const bool heavy = html && logpane::isHeavy(shown);
    entries[pane].push_back(
        Entry{written++, clock.nsecsElapsed(), html, shown, heavy ? Import::Waiting : Import::None, {}});
    if (heavy)
        startImports();
    if (!sliceTimer.isActive())
        sliceTimer.start(0);
}

void PaneFeed::clear(Pane pane)
{
    for (const Entry &entry : entries[pane]) {
        if (entry.import == Import::Running || entry.import == Import::Done)
            --importing; // a running import's result finds no entry and is dropped
    }
    entries[pane].clear();
    panes[pane]->clear();
    startImports();
}

void PaneFeed::standBack(bool answered)
{
    lastReply = clock.nsecsElapsed();
    holdUntil = lastReply + holdMs * 1000000LL;
    if (answered) {
        lastAnswer = lastReply;
        if (paintWaiting)
            paintTimer.start(pauseMs); // a pause, if it comes, is the moment for the repaint
    }
}

void PaneFeed::goAhead()
{
    holdUntil = 0;
    lastCommand = clock.nsecsElapsed();
}

// While traffic flows, a repaint (a millisecond or so, and as much again in the display server) waits
// for a pause: the control program sending nothing for pauseMs after a reply. Never for long.
// Repainting while the device answers was measured to cost more: its echo and reply are then more
// often read as one chunk.
bool PaneFeed::paintWaits() const
{
    const qint64 now = clock.nsecsElapsed();
    const bool flowing = now - lastReply < flowMs * 1000000LL;
    const bool paused = lastAnswer > lastCommand && now - lastAnswer >= pauseMs * 1000000LL;
    const bool overdue = now - lastThaw > (paintIntervalMs + maxPaintWaitMs) * 1000000LL;
    return flowing && !paused && !overdue;
}

// True while standing back; the oldest entry's age ends it.
bool PaneFeed::holding()
{
    const qint64 now = clock.nsecsElapsed();
    if (now >= holdUntil)
        return false;
    for (int pane = 0; pane < PaneCount; ++pane) {
        const auto &queue = entries[pane];
        if (!queue.empty() && ready(queue.front()) && now - queue.front().queuedAt >= maxDelayMs * 1000000LL)
            return false;
    }
    return true;
}

int PaneFeed::holdLeftMs() const
{
    return int(qBound<qint64>(1, (holdUntil - clock.nsecsElapsed() + 999999) / 1000000, holdMs));
}

int PaneFeed::queued() const { return int(entries[TcpPane].size() + entries[SerialPane].size()); }

// Hands the oldest waiting heavy entries to the worker, as long as few enough are ahead.
void PaneFeed::startImports()
{
    while (importing < importsAhead && !stopping) {
        Entry *next = nullptr;
        for (auto &queue : entries) {
            for (Entry &entry : queue) {
                if (entry.import == Import::Waiting) {
                    if (!next || entry.order < next->order)
                        next = &entry;
                    break;
                }
            }
        }
        if (!next)
            return;
        if (!importThread.isRunning()) {
            panedocument::prepareWorker(&importThread);
            importer = new QObject;
            importer->moveToThread(&importThread);
            importThread.start();
        }
        next->import = Import::Running;
        ++importing;
        const quint64 order = next->order;
        const QString html = next->text;
        QMetaObject::invokeMethod(
            importer,
            [this, order, html] {
                if (stopping)
                    return;
                const QTextDocumentFragment fragment = panedocument::import(html);
                QMetaObject::invokeMethod(
                    this, [this, order, fragment] { takeImport(order, fragment); }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }
}

void PaneFeed::takeImport(quint64 order, const QTextDocumentFragment &fragment)
{
    for (auto &queue : entries) {
        for (Entry &entry : queue) {
            if (entry.order == order && entry.import == Import::Running) {
                entry.import = Import::Done;
                entry.fragment = fragment;
                if (!sliceTimer.isActive())
                    sliceTimer.start(0);
                return;
            }
        }
    }
}

bool PaneFeed::ready(const Entry &entry) const { return entry.import == Import::None || entry.import == Import::Done; }

// The oldest entry that is ready, of either pane.
bool PaneFeed::appendNext()
{
    int pane = -1;
    for (int p = 0; p < PaneCount; ++p) {
        if (!entries[p].empty() && ready(entries[p].front())
            && (pane < 0 || entries[p].front().order < entries[pane].front().order))
            pane = p;
    }
    if (pane < 0)
        return false;
    freeze(pane);
    const Entry entry = std::move(entries[pane].front());
    entries[pane].pop_front();
    if (!entry.html) {
        catchUpCursor(pane);
        panes[pane]->appendPlainText(entry.text);
        return true;
    }
    if (entry.import == Import::Done) {
        panedocument::appendImported(panes[pane], entry.fragment);
        --importing;
        startImports();
    } else {
        panes[pane]->appendHtml(entry.text);
    }
    cursorBehind[pane] = true;
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

// A modal box or menu opened inside a quiet event pass runs a loop of its own that waits for the user
// (an event pass never waits): the panes go on under it.
void PaneFeed::loopWaits()
{
    if (quiet == 0 || quietBroken)
        return;
    quietBroken = true;
    goOn();
}

bool PaneFeed::isQuiet() const { return quiet > 0 && !quietBroken; }

void PaneFeed::resume()
{
    if (--quiet > 0)
        return;
    quietBroken = false;
    goOn();
}

// Pane work that waited for the quiet to end: at the next turn of the event loop.
void PaneFeed::goOn()
{
    if (queued() > 0 && !sliceTimer.isActive())
        sliceTimer.start(0);
    if ((frozen[TcpPane] || frozen[SerialPane]) && !paintTimer.isActive())
        paintTimer.start(0);
}

void PaneFeed::appendSlice()
{
    if (isQuiet())
        return; // resumed when the last hold ends
    if (holding()) {
        sliceTimer.start(holdLeftMs());
        return;
    }
    QElapsedTimer spent;
    spent.start();
    bool more = true;
    for (int n = 0; n < sliceMaxEntries && spent.nsecsElapsed() < sliceBudgetNs; ++n) {
        if (!(more = appendNext()))
            break;
    }
    for (int pane = 0; pane < PaneCount; ++pane)
        catchUpCursor(pane);
    // The rest after the sockets and the port have been served; entries waiting for their import
    // are taken when it is done.
    if (more && queued() > 0)
        sliceTimer.start(0);
    if (!paintTimer.isActive())
        paintTimer.start(int(qMax<qint64>(0, paintIntervalMs - (clock.nsecsElapsed() - lastThaw) / 1000000)));
}

// While entries go in, a pane does not paint; its next paint shows all of them at once.
void PaneFeed::freeze(int pane)
{
    if (frozen[pane])
        return;
    frozen[pane] = true;
    panes[pane]->setUpdatesEnabled(false);
}

void PaneFeed::thaw()
{
    paintTimer.stop();
    paintWaiting = false;
    if (!(frozen[TcpPane] || frozen[SerialPane]) || isQuiet())
        return;
    if (holding()) {
        paintTimer.start(holdLeftMs());
        return;
    }
    if (paintWaits()) {
        paintWaiting = true;
        qint64 wait = maxPaintWaitMs;
        if (lastAnswer > lastCommand) // a pause would start pauseMs after the reply
            wait =
                qBound<qint64>(1, (lastAnswer + pauseMs * 1000000LL - clock.nsecsElapsed() + 999999) / 1000000, wait);
        paintTimer.start(int(wait));
        return;
    }
    // One pane per turn of the event loop: each repaint is a short stretch of work.
    lastThaw = clock.nsecsElapsed();
    const int pane = frozen[nextPaint] ? nextPaint : 1 - nextPaint;
    nextPaint = 1 - pane;
    frozen[pane] = false;
    panes[pane]->setUpdatesEnabled(true);
    if (frozen[nextPaint])
        paintTimer.start(0);
}
