#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

// Where the status endpoint listens: off unless a port is given on the command line or in the INI.
namespace statusconfig {

// A TCP port from 1 to 65535 written in decimal digits, nothing else; nullopt otherwise.
std::optional<quint16> port(const QString &text);

// The address to listen on, as --status-bind gives it: empty means every address (IPv4 and IPv6);
// otherwise one IPv4 or IPv6 address. Nullopt for anything else (names are not looked up).
std::optional<QHostAddress> bindAddress(const QString &text);

// [Status] StatusPort= of the INI file at `iniPath`; nullopt when the file, the key or a usable
// port is missing.
std::optional<quint16> portFromIni(const QString &iniPath);

} // namespace statusconfig
