#pragma once

#include <QString>

// Where the bridge keeps its serial settings, and what it keeps there.
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

// Its keys, all in the group product::iniGroup.
inline constexpr char portKey[] = "Port";
inline constexpr char baudRateKey[] = "BaudRate";
inline constexpr char dataBitsKey[] = "DataBits";
inline constexpr char parityKey[] = "Parity";
inline constexpr char stopBitsKey[] = "StopBits";
inline constexpr char flowControlKey[] = "FlowControl";
inline constexpr char localEchoKey[] = "LocalEcho";

// The serial settings as the file holds them: the texts the settings dialog shows, never the numbers
// behind them. The initial values are what a missing key (or file) reads as; the parity "N" matches
// no item of the dialog, and "Com3" is spelled as it is.
struct Texts {
    QString port = QStringLiteral("Com3");
    QString baudRate = QStringLiteral("9600");
    QString dataBits = QStringLiteral("8");
    QString parity = QStringLiteral("N");
    QString stopBits = QStringLiteral("1");
    QString flowControl = QStringLiteral("None");
    bool localEcho = true;
};

// The group product::iniGroup of the file at `path`. Never creates the file.
Texts read(const QString &path);

// Writes all seven keys into the group product::iniGroup of the file at `path` (LocalEcho as "true"
// or "false"); other keys and groups stay as they are.
void write(const QString &path, const Texts &texts);

} // namespace settingsfile
