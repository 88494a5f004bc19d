// A stand-in projector on a pseudo-terminal: echoes each command line, answers "op" queries and
// settings from a small table, and logs what it saw so tests can check bytes and timing.
#include "tools/projector/eventlog.h"
#include "tools/projector/options.h"
#include "tools/projector/projector.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

static void onStopSignal(int) { stopRequested = 1; }
static void onToggleSignal(int) { togglePlugRequested = 1; }
static void onPlugSignal(int) { plugRequested = 1; }

// Installs the handlers and blocks their signals; what to wait with, so they arrive only then.
static sigset_t catchSignals()
{
    const std::pair<int, void (*)(int)> handlers[] = {{SIGTERM, onStopSignal},
                                                      {SIGINT, onStopSignal},
                                                      {SIGHUP, onStopSignal},
                                                      {SIGUSR1, onToggleSignal},
                                                      {SIGUSR2, onPlugSignal}};
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const auto &handler : handlers) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = handler.second;
        sigemptyset(&action.sa_mask);
        sigaction(handler.first, &action, nullptr);
        sigaddset(&blocked, handler.first);
    }
    signal(SIGPIPE, SIG_IGN);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    return waitMask;
}

int main(int argc, char **argv)
{
    // For the command line only; the projector's own loop is plain poll().
    QCoreApplication app(argc, argv);
    Options options;
    if (const auto done = parseOptions(std::vector<std::string>(argv + 1, argv + argc), &options))
        return *done;

    EventLog log;
    if (!options.logPath.empty() && !log.open(options.logPath)) {
        std::fprintf(stderr, "virtual-projector: cannot open log '%s': %s\n", options.logPath.c_str(),
                     std::strerror(errno));
        return 1;
    }

    const sigset_t waitMask = catchSignals();
    Projector projector(options, log);
    if (!projector.plug())
        return 1;
    return projector.run(waitMask);
}
