#pragma once

#include <QObject>
#include <QTimer>

// Tells the service manager that started the bridge (systemd, with Type=notify) that it is ready, and
// then, while its watchdog is on, that the event loop still turns, so a hung loop gets restarted.
// Make it once the bridge has bound its sockets: readiness is sent at the loop's first turn.
// Where there is no service manager, or the program was built without libsystemd, it does nothing.
class ServiceManager : public QObject
{
    Q_OBJECT

public:
    explicit ServiceManager(QObject *parent = nullptr);

private:
    QTimer ping;
};

// The service manager's protocol itself; the only place that may name libsystemd.
namespace servicemanager {

// Sends STATE (e.g. "READY=1") to the service manager, if one listens.
void notify(const char *state);

// The watchdog interval the manager asked this process for, in microseconds; 0 when none.
quint64 watchdogUsec();

} // namespace servicemanager
