#include "tools/probe/probe.h"

#include "core/settingsfile.h"

#include <QCoreApplication>
#include <QTextStream>

static void usage(QTextStream &out)
{
    out << "usage: tolvane-probe discover [--to ADDRESS] [--wait MS] [--raw] [--payload TEXT] [--port N]\n"
           "                              [--listen-port N]\n"
           "       tolvane-probe send HOST COMMAND [--timeout MS] [--quiet MS] [--port N]\n"
           "       tolvane-probe doctor\n"
           "       tolvane-probe --print-ini-path\n"
           "'tolvane-probe COMMAND --help' tells more.\n";
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        QTextStream out(stdout);
        usage(args.isEmpty() ? err : out);
        return args.isEmpty() ? 2 : 0;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--print-ini-path")) { // for scripts: where the bridge keeps Tolvane.ini
        QTextStream(stdout) << settingsfile::bridgePath() << '\n';
        return 0;
    }
    if (command == QLatin1String("discover"))
        return runDiscover(args);
    if (command == QLatin1String("send"))
        return runSend(args);
    if (command == QLatin1String("doctor"))
        return runDoctor(args);
    err << "tolvane-probe: unknown command '" << command << "'\n";
    usage(err);
    return 2;
}
