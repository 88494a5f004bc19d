#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// Readers for the system files the doctor looks at (/etc/passwd, /etc/group, /proc, /sys, /dev), each
// given the full path, so the checks decide which root they read below. Missing files read as empty.
namespace systemfiles {

// The file's text, trimmed; lines without the empty ones.
QString readText(const QString &file);
QStringList readLines(const QString &file);

// The raw target of a symbolic link, without resolving it (socket links are no paths).
QString linkText(const QString &link);
QString lastComponent(const QString &linkTarget);

// A folder's entries, ttyUSB2 before ttyUSB10; the numeric ones of a /proc folder.
QStringList entries(const QString &folder);
QStringList processIds(const QString &procFolder);

// "crw-rw----" for a character device.
QString modeText(mode_t mode);

struct GroupEntry {
    QString name;
    gid_t gid;
    QStringList members;
};
QList<GroupEntry> readGroups(const QString &file);

struct PasswdEntry {
    QString name;
    uid_t uid;
    gid_t gid; // primary group
};
QList<PasswdEntry> readPasswd(const QString &file);

struct SocketEntry {
    quint64 inode;
    uid_t uid;
};
// Sockets in /proc/net/<table> whose local port is `port` (and, for TCP, that listen).
QList<SocketEntry> socketsOnPort(const QString &tableFile, quint16 port, bool listeningOnly);

} // namespace systemfiles
