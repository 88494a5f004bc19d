#include "app/servicemanager.h"

#include <algorithm>
#include <limits>

ServiceManager::ServiceManager(QObject *parent)
    : QObject(parent)
{
    QTimer::singleShot(0, this, [] { servicemanager::notify("READY=1"); });
    const quint64 usec = servicemanager::watchdogUsec();
    if (usec == 0)
        return;
    // Half of what the manager allows, so one slow turn of the loop is no restart.
    const quint64 ms = std::clamp<quint64>(usec / 2000, 1, quint64(std::numeric_limits<int>::max()));
    ping.setTimerType(Qt::PreciseTimer);
    connect(&ping, &QTimer::timeout, this, [] { servicemanager::notify("WATCHDOG=1"); });
    ping.start(int(ms));
}
