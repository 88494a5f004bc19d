#include "app/servicemanager.h"

#include <systemd/sd-daemon.h>

namespace servicemanager {

void notify(const char *state) { sd_notify(0, state); }

quint64 watchdogUsec()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? quint64(usec) : 0;
}

} // namespace servicemanager
