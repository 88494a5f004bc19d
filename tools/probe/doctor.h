#pragma once

#include "core/netinfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// The installation checks behind `tolvane-probe doctor`. Every file they read is looked up below one
// root folder (empty: the real system), so a test can hand them a made-up /sys, /dev, /proc and /etc.
namespace doctor {

enum class Level { Ok, Warn, Fail };

struct Finding {
    Level level;
    QString topic;
    QString text;
};

// "OK   topic: text", "WARN topic: text", "FAIL topic: text".
QString format(const Finding &finding);

// Who the checks ask for: the process's effective ids and session groups, with names.
struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
    QList<gid_t> groups; // supplementary groups of this login session
    QString userName;
    bool real = true; // the ids are this process's own, so the kernel can be asked too
};

class Doctor
{
public:
    explicit Doctor(const QString &root);

    // All checks in the order they are printed.
    QList<Finding> run(const QList<netinfo::Interface> &interfaces, const QString &iniPath);

    QList<Finding> serialDevices();
    QList<Finding> userGroups();
    QList<Finding> deviceAccess();
    QList<Finding> portGrabbers();
    QList<Finding> latencyTimers();
    QList<Finding> listeningPorts();
    QList<Finding> configuredPort(const QString &iniPath);
    static QList<Finding> discoveryAddress(const QList<netinfo::Interface> &interfaces);

private:
    struct Device {
        QString name;     // ttyUSB0
        QString driver;   // ftdi_sio, or empty
        QStringList byId; // /dev/serial/by-id names that point at it
        bool console = false;
    };

    QString path(const QString &absolute) const { return m_root + absolute; }
    void loadIdentity();
    const QList<Device> &devices();
    bool hasUsableDevice();
    static QString whereToChoose(const Device &d);
    QString groupName(gid_t gid) const;
    QString userName(uid_t uid) const;
    bool listedInGroup(const QString &group) const;
    QString owners(const QList<quint64> &inodes, const QList<uid_t> &uids, bool *tolvaneOnly) const;

    QString m_root;
    Identity m_id;
    QList<Device> m_devices;
    bool m_devicesRead = false;
};

} // namespace doctor
