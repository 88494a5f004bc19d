#include "app/reopener.h"

#include "app/mainwindow.h"
#include "app/roadevents.h"
#include "core/portlist.h"
#include "core/settingsfile.h"

#include <QFileInfo>
#include <QScopedValueRollback>
#include <QTimer>

Reopener::Reopener(MainWindow *window)
    : QObject(window)
    , window(window)
    , timer(new QTimer(this))
{
    timer->setInterval(pollMs);
    connect(timer, &QTimer::timeout, this, &Reopener::look);
    connect(window->events(), &RoadEvents::portClosed, this, &Reopener::portClosed);
    connect(window->events(), &RoadEvents::portOpened, this, &Reopener::portOpened);
    if (!window->isSerialOpen())
        portClosed();
}

bool Reopener::devicePresent(const QString &port)
{
#ifdef Q_OS_UNIX
    return QFileInfo::exists(portlist::devicePath(port)); // follows links: a dangling one is no device
#else
    Q_UNUSED(port);
    return true;
#endif
}

// The close may run inside a loss's report: the first look waits for the event loop.
void Reopener::portClosed()
{
    timer->start();
    QTimer::singleShot(0, this, &Reopener::look);
}

void Reopener::portOpened()
{
    timer->stop();
    waiting = false;
}

void Reopener::look()
{
    if (opening)
        return;
    // Open while a loss is still being reported: its close starts the looking again.
    if (window->isSerialOpen()) {
        portOpened();
        return;
    }
    // Read afresh, as the open itself does: the file may have been changed meanwhile.
    const QString port = settingsfile::read(settingsfile::path()).port;
    if (!waiting) {
        waiting = true;
        emit window->events()->portWaiting(port);
    }
    if (!devicePresent(port))
        return;
    const QScopedValueRollback<bool> attempt(opening, true);
    window->openAppearedPort();
}
