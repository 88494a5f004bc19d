#include "app/mainwindow.h"
#include "app/unattended.h"
#include "core/cmdline.h"
#include "core/settingsfile.h"
#include "core/trace.h"

#include <QApplication>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace {

// The bridge's own options. Without any of them every argument is Qt's, as it always was.
struct Options {
    bool service = false;
    bool logTraffic = false;
    QString config;
};

bool isOurs(const QString &arg)
{
    for (const char *name : {"--service", "--log-traffic", "--config", "--help", "-h", "--version"}) {
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
        QStringLiteral("tolvane"), QStringLiteral("[--service [--config FILE] [--log-traffic]]"),
        QStringLiteral("Bridges TCP port 7000 to the serial port named in Tolvane.ini and answers discovery probes on\n"
                       "UDP port 35070. Without options it opens its window.\n\n"
                       "--service runs the same bridge with no window and no display, for a machine nobody watches:\n"
                       "every message box the window would show is one line on stderr (title: text), with the\n"
                       "journal's priority prefix when stderr is the journal, and nothing waits for a click. The\n"
                       "serial port is opened whenever its device is there: at start, later, and after a loss."));
    command.addFlag(QStringLiteral("service"), QStringLiteral("run without a window or display"));
    command.addValue(QStringLiteral("config"), QStringLiteral("FILE"),
                     QStringLiteral("the settings file (default: Tolvane.ini in the per-application data folder)"));
    command.addFlag(QStringLiteral("log-traffic"),
                    QStringLiteral("with --service: write what the panes would show, a plain line each"));
    if (const auto done = command.parseOrExit(args))
        return done;
    options->service = command.isSet(QStringLiteral("service"));
    options->logTraffic = command.isSet(QStringLiteral("log-traffic"));
    options->config = command.value(QStringLiteral("config"));
    if (!options->service && (options->logTraffic || !options->config.isEmpty()))
        return command.bad(QStringLiteral("--config and --log-traffic go with --service"));
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
    if (!options.service) {
        MainWindow w;
        w.show();
        return a.exec();
    }
    a.setQuitOnLastWindowClosed(false); // the boxes are its only windows, each closed at once
    Unattended unattended(options.logTraffic);
    MainWindow w;
    unattended.attach(&w);
    return a.exec();
}
