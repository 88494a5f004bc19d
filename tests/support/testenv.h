#pragma once

#include "core/settingsfile.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

// Each test process gets its own settings folder (never the user's Tolvane.ini) and, unless the test
// sets one, an empty serial port list. Call before the QApplication exists (see TOLVANE_TEST_MAIN).
namespace testenv {

inline void isolate()
{
    static QTemporaryDir home; // lives for the whole test process
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("TOLVANE_SERIAL_PORTS"))
        qputenv("TOLVANE_SERIAL_PORTS", "");
}

// Where the program keeps Tolvane.ini in this test run.
inline QString iniFile() { return settingsfile::path(); }

// How long a test waits for something that should happen: long enough for a sanitized build on a
// loaded machine. A wait that succeeds ends as soon as its condition holds.
constexpr int patience = 30000;

} // namespace testenv

// QTEST_MAIN with an isolated environment and the offscreen platform.
#define TOLVANE_TEST_MAIN(TestObject)                                                                                  \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        testenv::isolate();                                                                                            \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
