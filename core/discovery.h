#pragma once

#include <QByteArray>
#include <QString>
#include <QSysInfo>

namespace discovery {

// A datagram record that contains "?ZZ?" (case-sensitive) is a discovery probe.
bool isProbe(const QString &record);

// "ip=<ip>;mac=<mac>;model=<model>;serial=<appName>-<count>;" as UTF-8, no terminator.
QByteArray reply(const QString &ip, const QString &mac, int count);

// Where the reply goes: on Windows 10 the address up to its last "." plus ".255"
// (the whole text plus ".255" when it has no "."), elsewhere 255.255.255.255.
QString destination(const QString &ip, bool windows10);

// A reply read back into its fields, as a discovery client sees it.
struct Reply {
    QString ip;
    QString mac;
    QString model;
    QString serial;      // the whole tag, e.g. "Tolvane-3"
    qint64 counter = -1; // the number after the tag's last "-"
};

// Reads bytes of the reply's form back; false (and *out untouched) for anything else.
bool parseReply(const QByteArray &bytes, Reply *out);

// True only when the toolkit reports the running system as Windows 10.
bool runningOnWindows10();

} // namespace discovery
