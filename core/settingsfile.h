#pragma once

#include <QString>

// Where the bridge keeps its serial settings.
namespace settingsfile {

// The bridge's executable, which names its per-application data folder.
inline constexpr char bridgeExecutable[] = "tolvane";

// Tolvane.ini in the running program's first per-application data folder (the folder is named after
// the executable), composed afresh on each call so a changed environment counts; or the file named
// with setPath().
QString path();

// From now on the settings live in this file (tolvane --config FILE); empty: the usual place again.
void setPath(const QString &file);

// The file the bridge would use, as another program of the same user finds it (the probe, scripts).
QString bridgePath();

} // namespace settingsfile
