#include "tools/probe/probe.h"

#include "core/cmdline.h"
#include "core/settingsfile.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

const char overview[] =
    "usage: tolvane-probe discover [--to ADDRESS]... [--wait MS] [--raw] [--payload TEXT] [--port N]\n"
    "                              [--listen-port N] [--json]\n"
    "       tolvane-probe send HOST COMMAND [--timeout MS] [--quiet MS] [--port N] [--json]\n"
    "       tolvane-probe watch HOST COMMAND... [--every MS] [--count N | --for SECONDS] [--timeout MS]\n"
    "                           [--pace MS] [--quiet MS] [--port N] [--json]\n"
    "       tolvane-probe survey [--to ADDRESS]... [--wait MS] [--query COMMAND]... [--timeout MS]\n"
    "                            [--quiet MS] [--status-port N] [--json]\n"
    "       tolvane-probe status HOST [--status-port N] [--timeout MS] [--json]\n"
    "       tolvane-probe doctor\n"
    "       tolvane-probe --print-ini-path\n"
    "       tolvane-probe --version\n"
    "'tolvane-probe COMMAND --help' tells more.\n";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString first = args.value(0);
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        QTextStream(stdout) << overview;
        return 0;
    }
    if (args.isEmpty()) {
        QTextStream(stderr) << overview;
        return cmdline::badArguments;
    }
    args.removeFirst();
    if (first == QLatin1String("discover"))
        return runDiscover(args);
    if (first == QLatin1String("send"))
        return runSend(args);
    if (first == QLatin1String("watch"))
        return runWatch(args);
    if (first == QLatin1String("survey"))
        return runSurvey(args);
    if (first == QLatin1String("status"))
        return runStatus(args);
    if (first == QLatin1String("doctor"))
        return runDoctor(args);

    // What is left are options of tolvane-probe itself.
    cmdline::Command command(QStringLiteral("tolvane-probe"), QStringLiteral("COMMAND [OPTIONS]"), QString());
    command.addFlag(QStringLiteral("print-ini-path"),
                    QStringLiteral("where the bridge keeps Tolvane.ini, for scripts"));
    if (!first.startsWith(QLatin1Char('-')))
        return command.bad(QStringLiteral("unknown command '%1'").arg(first));
    if (const auto done = command.parseOrExit(QStringList{first} + args))
        return *done;
    if (command.isSet(QStringLiteral("print-ini-path"))) {
        QTextStream(stdout) << settingsfile::bridgePath() << '\n';
        return 0;
    }
    return command.bad(QStringLiteral("needs a command"));
}
