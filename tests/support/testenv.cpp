#include "tests/support/testenv.h"

#include "core/settingsfile.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdlib>

namespace testenv {

static QTemporaryDir *home = nullptr;

void isolate()
{
    if (!home) {
        home = new QTemporaryDir; // lives for the whole test process
        std::atexit([] { delete home; home = nullptr; });
    }
    qputenv("XDG_DATA_HOME", home->path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("TOLVANE_SERIAL_PORTS"))
        qputenv("TOLVANE_SERIAL_PORTS", "");
}

QString dataHome() { return home ? home->path() : QString(); }

QString iniFile() { return settingsfile::path(); }

} // namespace testenv
