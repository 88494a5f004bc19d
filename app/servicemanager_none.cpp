#include "app/servicemanager.h"

// Built without libsystemd (Windows, macOS, or a Linux without its headers): no manager is told anything.
namespace servicemanager {

void notify(const char *) { }

quint64 watchdogUsec() { return 0; }

} // namespace servicemanager
