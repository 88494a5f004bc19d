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
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

static void onStopSignal(int) { stopRequested = 1; }

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

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("virtual-projector: openpty");
        return 1;
    }
    // Raw from the start, so the line discipline never echoes or rewrites what the bridge sends.
    termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    // Only the bridge holds the slave open, so its closing shows here as a hang-up.
    close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);

    std::printf("%s\n", name);
    std::fflush(stdout);

    Projector projector(options, master, log);
    return projector.run();
}
