// tolvane-probe doctor: the installation checks on this machine, one line per finding.
#include "tools/probe/doctor.h"
#include "tools/probe/probe.h"

#include "core/cmdline.h"
#include "core/settingsfile.h"

#include <QTextStream>

int runDoctor(const QStringList &args)
{
    cmdline::Command command(
        QStringLiteral("tolvane-probe doctor"), QString(),
        QStringLiteral("Checks serial devices, permissions, services, ports and the discovery address.\n"
                       "Prints one OK, WARN or FAIL line per finding; exits 1 when any line is FAIL."));
    if (const auto done = command.parseOrExit(args))
        return *done;

    QTextStream out(stdout);
    doctor::Doctor checks(qEnvironmentVariable("TOLVANE_DOCTOR_ROOT"));
    bool failed = false;
    for (const doctor::Finding &f : checks.run(netinfo::systemInterfaces(), settingsfile::bridgePath())) {
        out << doctor::format(f) << '\n';
        failed = failed || f.level == doctor::Level::Fail;
    }
    return failed ? 1 : 0;
}
