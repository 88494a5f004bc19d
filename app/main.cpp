#include "app/mainwindow.h"
#include "app/servicemanager.h"
#include "app/statusendpoint.h"
#include "app/unattended.h"
#include "core/cmdline.h"
#include "core/settingsfile.h"
#include "core/statusconfig.h"
#include "core/trace.h"

#include <QApplication>
#include <QFileInfo>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

// The bridge's own options. Without any of them every argument is Qt's, as it always was.
struct Options {
    bool service = false;
    bool logTraffic = false;
    QString config;
    qint64 paneLines = 0; // 0: the panes keep every line
    std::optional<quint16> statusPort;
    QHostAddress statusBind = QHostAddress(QHostAddress::Any);
};

bool isOurs(const QString &arg)
{
    for (const char *name : {"--service", "--log-traffic", "--config", "--pane-lines", "--status-port", "--status-bind",
                             "--help", "-h", "--version"}) {
        if (arg == QLatin1String(name) || arg.startsWith(QLatin1String(name) + QLatin1Char('=')))
            return true;
    }
    return false;
}

// nullopt: run; a number: exit with it (help, version, a mistake).
std::optional<int> parse(int argc, char *argv[], Options *options)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (std::none_of(args.cbegin(), args.cend(), isOurs))
        return std::nullopt;

    cmdline::Command command(
        QStringLiteral("tolvane"),
        QStringLiteral(
            "[--pane-lines N | --service [--config FILE] [--log-traffic]] [--status-port N [--status-bind ADDRESS]]"),
        QStringLiteral("Bridges TCP port 7000 to the serial port named in Tolvane.ini and answers discovery probes on\n"
                       "UDP port 35070. Without options it opens its window.\n\n"
                       "--service runs the same bridge with no window and no display, for a machine nobody watches:\n"
                       "every message box the window would show is one line on stderr (title: text), with the\n"
                       "journal's priority prefix when stderr is the journal, and nothing waits for a click.\n\n"
                       "--status-port serves the bridge's status over HTTP, in either mode: GET /status (JSON),\n"
                       "/metrics (Prometheus) and / (a page). Without it, [Status] StatusPort=N in the settings\n"
                       "file does the same; with neither there is no endpoint."));
    command.addFlag(QStringLiteral("service"),
                    QStringLiteral("run without a window or display; the serial port is opened whenever its "
                                   "device is there (at start, later, after a loss)"));
    command.addValue(QStringLiteral("config"), QStringLiteral("FILE"),
                     QStringLiteral("the settings file (default: Tolvane.ini in the per-application data folder)"));
    command.addFlag(QStringLiteral("log-traffic"),
                    QStringLiteral("with --service: write what the panes would show, a plain line each"));
    command.addValue(QStringLiteral("pane-lines"), QStringLiteral("N"),
                     QStringLiteral("the window's panes keep their last N lines each (default: every line)"));
    command.addValue(QStringLiteral("status-port"), QStringLiteral("N"),
                     QStringLiteral("serve the status endpoint on TCP port N (wins over [Status] StatusPort=)"));
    command.addValue(QStringLiteral("status-bind"), QStringLiteral("ADDRESS"),
                     QStringLiteral("the status endpoint's address, IPv4 or IPv6 (default: every address)"));
    if (const auto done = command.parseOrExit(args))
        return done;
    if (command.isSet(QStringLiteral("status-port"))) {
        options->statusPort = statusconfig::port(command.value(QStringLiteral("status-port")));
        if (!options->statusPort)
            return command.bad(QStringLiteral("--status-port takes a port from 1 to 65535"));
    }
    const auto bind = statusconfig::bindAddress(command.value(QStringLiteral("status-bind")));
    if (!bind)
        return command.bad(QStringLiteral("--status-bind takes an IPv4 or IPv6 address"));
    options->statusBind = *bind;
    if (!command.number(QStringLiteral("pane-lines"), 1, 100000000, &options->paneLines))
        return command.bad(command.error());
    options->service = command.isSet(QStringLiteral("service"));
    options->logTraffic = command.isSet(QStringLiteral("log-traffic"));
    options->config = command.value(QStringLiteral("config"));
    if (!options->service && (options->logTraffic || !options->config.isEmpty()))
        return command.bad(QStringLiteral("--config and --log-traffic go with --service"));
    if (options->service && options->paneLines)
        return command.bad(QStringLiteral("--pane-lines goes with the window; --service keeps no pane text"));
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    std::optional<int> done;
    {
        // Help texts need an application object; the real one comes after the options are known.
        QCoreApplication parsing(argc, argv);
        done = parse(argc, argv, &options);
    }
    if (done)
        return *done;
    if (options.service && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // no display, and none needed
    if (!options.config.isEmpty())
        settingsfile::setPath(QFileInfo(options.config).absoluteFilePath());

    QApplication a(argc, argv);
    const trace::HeldUntilIdle traces; // outlives the window, whose last traces it hands on
    // Off unless a port is given; it serves from before the window, whose start may wait on a box.
    std::unique_ptr<StatusEndpoint> status;
    const auto statusPort = options.statusPort ? options.statusPort : statusconfig::portFromIni(settingsfile::path());
    if (statusPort) {
        status =
            std::make_unique<StatusEndpoint>(options.service ? QStringLiteral("service") : QStringLiteral("window"));
        status->start(options.statusBind, *statusPort, options.service && Unattended::stderrIsJournal());
    }
    StatusBoard *board = status ? status->board() : nullptr;
    if (!options.service) {
        MainWindow w(nullptr, board);
        if (options.paneLines)
            w.limitPaneLines(int(options.paneLines));
        w.show();
        return a.exec();
    }
    a.setQuitOnLastWindowClosed(false); // the boxes are its only windows, each closed at once
    Unattended unattended(options.logTraffic);
    MainWindow w(nullptr, board);
    unattended.attach(&w);
    if (status && options.logTraffic)
        status->showTraffic(w.events());
    const ServiceManager manager; // the sockets are bound: ready, and the watchdog while the loop turns
    return a.exec();
}
