// tolvane-probe doctor: the installation checks on this machine, one line per finding.
#include "tools/probe/doctor.h"
#include "tools/probe/probe.h"

#include "core/cmdline.h"
#include "core/settingsfile.h"

#include <QTextStream>

namespace {

std::optional<int> parse(const QStringList &args)
{
    cmdline::Command command(
        QStringLiteral("tolvane-probe doctor"), QString(),
        QStringLiteral("Checks serial devices, permissions, services, ports and the discovery address.\n"
                       "Prints one OK, WARN or FAIL line per finding; exits 1 when any line is FAIL."));
    return command.parseOrExit(args);
}

QList<doctor::Finding> run()
{
    doctor::Doctor checks(qEnvironmentVariable("TOLVANE_DOCTOR_ROOT"));
    return checks.run(netinfo::systemInterfaces(), settingsfile::bridgePath());
}

int print(const QList<doctor::Finding> &findings)
{
    QTextStream out(stdout);
    bool failed = false;
    for (const doctor::Finding &f : findings) {
        out << doctor::format(f) << '\n';
        failed = failed || f.level == doctor::Level::Fail;
    }
    return failed ? 1 : 0;
}

} // namespace

int runDoctor(const QStringList &args)
{
    if (const auto done = parse(args))
        return *done;
    return print(run());
}
