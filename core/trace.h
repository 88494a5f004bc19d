#pragma once

#include <QDebug>

// Developer traces: "<source path>/<line>(<function>): items...", through Qt's debug stream.
// The build maps __FILE__ to a path relative to the source tree.
namespace trace {
QDebug at(const char *file, int line, const char *function);
}

#define TRACE trace::at(__FILE__, __LINE__, __func__)
