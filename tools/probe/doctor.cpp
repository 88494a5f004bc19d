#include "tools/probe/doctor.h"
#include "tools/probe/systemfiles.h"

#include "core/portlist.h"
#include "core/product.h"
#include "core/settingsfile.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace doctor {

using namespace systemfiles;

namespace {

const quint16 tcpPort = product::tcpPort;
const quint16 udpPort = product::udpRxPort;
const char permissionHint[] = "until then Tolvane's \"Error\" box says \"Permission denied\"";

} // namespace

QString format(const Finding &finding)
{
    const char *word = finding.level == Level::Ok ? "OK  " : finding.level == Level::Warn ? "WARN" : "FAIL";
    return QStringLiteral("%1 %2: %3").arg(QLatin1String(word), finding.topic, finding.text);
}

Doctor::Doctor(const QString &root)
    : m_root(root)
{
    loadIdentity();
}

void Doctor::loadIdentity()
{
    m_id.real = m_root.isEmpty();
    bool haveUid = false, haveGid = false;
    for (const QString &line : readLines(path(QStringLiteral("/proc/self/status")))) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        if (f.first() == QLatin1String("Uid:") && f.size() >= 3) {
            m_id.uid = uid_t(f[2].toUInt());
            haveUid = true;
        } else if (f.first() == QLatin1String("Gid:") && f.size() >= 3) {
            m_id.gid = gid_t(f[2].toUInt());
            haveGid = true;
        } else if (f.first() == QLatin1String("Groups:")) {
            for (int i = 1; i < f.size(); ++i)
                if (!f[i].isEmpty())
                    m_id.groups.append(gid_t(f[i].toUInt()));
        }
    }
    if (!haveUid || !haveGid) {
        m_id.uid = ::geteuid();
        m_id.gid = ::getegid();
        m_id.groups.clear();
        gid_t list[256];
        const int n = ::getgroups(256, list);
        for (int i = 0; i < n; ++i)
            m_id.groups.append(list[i]);
    }
    m_id.userName = userName(m_id.uid);
}

QString Doctor::groupName(gid_t gid) const
{
    for (const GroupEntry &g : readGroups(path(QStringLiteral("/etc/group"))))
        if (g.gid == gid)
            return g.name;
    return QString::number(gid);
}

QString Doctor::userName(uid_t uid) const
{
    for (const PasswdEntry &u : readPasswd(path(QStringLiteral("/etc/passwd"))))
        if (u.uid == uid)
            return u.name;
    return QStringLiteral("uid %1").arg(uid);
}

// Whether the account database puts the user in `group`, whatever this session's groups say.
bool Doctor::listedInGroup(const QString &group) const
{
    gid_t primary = gid_t(-1);
    for (const PasswdEntry &u : readPasswd(path(QStringLiteral("/etc/passwd"))))
        if (u.uid == m_id.uid)
            primary = u.gid;
    for (const GroupEntry &g : readGroups(path(QStringLiteral("/etc/group"))))
        if (g.name == group)
            return g.gid == primary || g.members.contains(m_id.userName);
    return false;
}

const QList<Doctor::Device> &Doctor::devices()
{
    if (m_devicesRead)
        return m_devices;
    m_devicesRead = true;
    const QString classFolder = path(QStringLiteral("/sys/class/tty/"));
    const QString byIdFolder = path(QStringLiteral("/dev/serial/by-id/"));
    const QStringList byIdNames = entries(byIdFolder);
    for (const QString &name : entries(classFolder)) {
        const QString sys = classFolder + name;
        // Consoles and pseudo-terminals have no device behind them.
        if (!QFileInfo::exists(sys + QLatin1String("/device")))
            continue;
        // The kernel keeps ttyS slots for UARTs that are not there; their type is 0.
        if (name.startsWith(QLatin1String("ttyS")) && readText(sys + QLatin1String("/type")) == QLatin1String("0"))
            continue;
        Device d;
        d.name = name;
        d.driver = name.startsWith(QLatin1String("ttyS"))
            ? QStringLiteral("built-in UART")
            : lastComponent(linkText(sys + QLatin1String("/device/driver")));
        d.console = readText(sys + QLatin1String("/console")) == QLatin1String("Y");
        for (const QString &link : byIdNames) {
            if (lastComponent(linkText(byIdFolder + link)) == name)
                d.byId.append(QStringLiteral("/dev/serial/by-id/") + link);
        }
        m_devices.append(d);
    }
    return m_devices;
}

// The INI line names the by-id link, which stays the same when the adapter comes back as another ttyUSB.
QString Doctor::whereToChoose(const Device &d)
{
    if (d.byId.isEmpty())
        return QStringLiteral("no stable /dev/serial/by-id name; choose %1 in Config > Serial (%2=%1 in %3)")
            .arg(d.name, QLatin1String(settingsfile::portKey), QLatin1String(product::iniFileName));
    return QStringLiteral("stable name %1; choose %2 in Config > Serial, or to keep it across replugs and reboots "
                          "write %3=%4 under [%5] in %6")
        .arg(d.byId.join(QLatin1String(", ")), d.name, QLatin1String(settingsfile::portKey), d.byId.first(),
             QLatin1String(product::iniGroup), QLatin1String(product::iniFileName));
}

bool Doctor::hasUsableDevice()
{
    for (const Device &d : devices())
        if (!d.console && QFileInfo::exists(path(QStringLiteral("/dev/") + d.name)))
            return true;
    return false;
}

QList<Finding> Doctor::serialDevices()
{
    QList<Finding> out;
    for (const Device &d : devices()) {
        const QString node = QStringLiteral("/dev/") + d.name;
        const QString what = d.driver.isEmpty() ? node : QStringLiteral("%1 (%2)").arg(node, d.driver);
        if (!QFileInfo::exists(path(node))) {
            out.append(
                {Level::Fail, QStringLiteral("serial"),
                 QStringLiteral("the kernel has %1 but %2 is missing; check that udev is running").arg(d.name, node)});
        } else if (d.console) {
            out.append({Level::Warn, QStringLiteral("serial"),
                        QStringLiteral("%1 is the system console: kernel messages and a login prompt use it, so do not "
                                       "connect the projector there")
                            .arg(what)});
        } else {
            out.append({Level::Ok, QStringLiteral("serial"), QStringLiteral("%1, %2").arg(what, whereToChoose(d))});
        }
    }
    if (!hasUsableDevice()) {
        out.append(
            {Level::Fail, QStringLiteral("serial"),
             QStringLiteral("no serial device to use (no /dev/ttyUSB*, /dev/ttyACM* or free built-in port); plug "
                            "in the USB serial adapter and run this again. Without one Tolvane answers every "
                            "command itself instead of the projector")});
    }
    return out;
}

QList<Finding> Doctor::userGroups()
{
    const QString user = m_id.userName;
    if (m_id.uid == 0) {
        return {{Level::Warn, QStringLiteral("user"),
                 QStringLiteral("running as root, so the access lines tell what root may do; run tolvane-probe doctor "
                                "as the user who starts Tolvane")}};
    }
    gid_t dialout = gid_t(-1);
    for (const GroupEntry &g : readGroups(path(QStringLiteral("/etc/group"))))
        if (g.name == QLatin1String("dialout"))
            dialout = g.gid;
    if (dialout == gid_t(-1))
        return {{Level::Warn, QStringLiteral("user"),
                 QStringLiteral("this system has no group dialout; the access lines tell whether %1 may open the "
                                "serial devices")
                     .arg(user)}};
    if (m_id.gid == dialout || m_id.groups.contains(dialout))
        return {{Level::Ok, QStringLiteral("user"), QStringLiteral("%1 is in group dialout").arg(user)}};
    if (listedInGroup(QStringLiteral("dialout")))
        return {
            {Level::Warn, QStringLiteral("user"),
             QStringLiteral("%1 was added to group dialout after this session began; log out and back in").arg(user)}};
    return {{Level::Warn, QStringLiteral("user"),
             QStringLiteral("%1 is not in group dialout, which may open serial devices on Debian: sudo usermod -aG "
                            "dialout %1, then log out and back in")
                 .arg(user)}};
}

QList<Finding> Doctor::deviceAccess()
{
    QList<Finding> out;
    const QString user = m_id.userName;
    for (const Device &d : devices()) {
        if (d.console)
            continue; // not for the projector, whoever may open it
        const QString node = QStringLiteral("/dev/") + d.name;
        struct stat st;
        if (::stat(QFile::encodeName(path(node)).constData(), &st) != 0)
            continue; // reported as missing above
        const QString group = groupName(st.st_gid);
        const QString facts =
            QStringLiteral("%1 (%2 %3 %4)").arg(node, modeText(st.st_mode), userName(st.st_uid), group);
        auto allows = [&](mode_t r, mode_t w) { return (st.st_mode & r) && (st.st_mode & w); };
        bool may;
        if (m_id.uid == 0)
            may = true;
        else if (m_id.uid == st.st_uid)
            may = allows(S_IRUSR, S_IWUSR);
        else if (m_id.gid == st.st_gid || m_id.groups.contains(st.st_gid))
            may = allows(S_IRGRP, S_IWGRP);
        else
            may = allows(S_IROTH, S_IWOTH);
        if (may) {
            out.append(
                {Level::Ok, QStringLiteral("access"), QStringLiteral("%1 may read and write %2").arg(user, facts)});
            continue;
        }
        // Only asks the kernel about the file; never opens the device.
        if (m_id.real && ::faccessat(AT_FDCWD, QFile::encodeName(node).constData(), R_OK | W_OK, AT_EACCESS) == 0) {
            out.append({Level::Ok, QStringLiteral("access"),
                        QStringLiteral("%1 may read and write %2 through an access control list").arg(user, facts)});
            continue;
        }
        QString why;
        if (st.st_uid != m_id.uid && allows(S_IRGRP, S_IWGRP)) {
            if (listedInGroup(group))
                why = QStringLiteral("%1 was added to group %2 after this session began; log out and back in")
                          .arg(user, group);
            else
                why = QStringLiteral("%1 is not in group %2; sudo usermod -aG %2 %1, then log out and back in")
                          .arg(user, group);
        } else {
            why = QStringLiteral("the group may not read and write it; Debian's udev rules give serial devices group "
                                 "dialout and mode 0660, so look for a local rule in /etc/udev/rules.d");
        }
        out.append({Level::Fail, QStringLiteral("access"),
                    QStringLiteral("%1 may not open %2: %3; %4").arg(user, facts, why, QLatin1String(permissionHint))});
    }
    return out;
}

QList<Finding> Doctor::portGrabbers()
{
    QList<Finding> out;
    const QString proc = path(QStringLiteral("/proc/"));
    for (const QString &pid : processIds(proc)) {
        const QString comm = readText(proc + pid + QLatin1String("/comm"));
        if (comm == QLatin1String("ModemManager")) {
            out.append({Level::Warn, QStringLiteral("services"),
                        QStringLiteral("ModemManager is running (pid %1): it probes new serial devices with modem "
                                       "commands and may hold an adapter for seconds after it is plugged in; without a "
                                       "modem: sudo systemctl disable --now ModemManager")
                            .arg(pid)});
        } else if (comm == QLatin1String("brltty")) {
            out.append(
                {Level::Warn, QStringLiteral("services"),
                 QStringLiteral("brltty is running (pid %1): it claims some USB serial adapters (CH340, CP210x) "
                                "as braille displays and their /dev/ttyUSB* vanishes; without a braille display: "
                                "sudo apt remove brltty")
                     .arg(pid)});
        }
    }
    if (out.isEmpty())
        out.append(
            {Level::Ok, QStringLiteral("services"), QStringLiteral("neither ModemManager nor brltty is running")});
    return out;
}

QList<Finding> Doctor::latencyTimers()
{
    QList<Finding> out;
    const QString folder = path(QStringLiteral("/sys/bus/usb-serial/devices/"));
    for (const QString &name : entries(folder)) {
        const QString text = readText(folder + name + QLatin1String("/latency_timer"));
        bool ok = false;
        const int ms = text.toInt(&ok);
        if (!ok)
            continue; // only FTDI-style adapters have one
        // 16 ms is the FTDI default and far below a projector's own answer time.
        if (ms <= 16) {
            out.append({Level::Ok, QStringLiteral("latency"),
                        QStringLiteral("/dev/%1 latency timer %2 ms: the adapter may hold a reply up to %2 ms before "
                                       "passing it on, harmless for projector control")
                            .arg(name)
                            .arg(ms)});
        } else {
            out.append({Level::Warn, QStringLiteral("latency"),
                        QStringLiteral("/dev/%1 latency timer %2 ms: the adapter may hold each reply up to %2 ms, long "
                                       "enough for a control program to time out; echo 16 | sudo tee "
                                       "/sys/bus/usb-serial/devices/%1/latency_timer")
                            .arg(name)
                            .arg(ms)});
        }
    }
    return out;
}

// Who holds the sockets: process names where /proc tells, else the sockets' users.
QString Doctor::owners(const QList<quint64> &inodes, const QList<uid_t> &uids, bool *tolvaneOnly) const
{
    QStringList named;
    QList<quint64> seen;
    bool onlyTolvane = true;
    const QString proc = path(QStringLiteral("/proc/"));
    for (const QString &pid : processIds(proc)) {
        const QString fdFolder = proc + pid + QLatin1String("/fd/");
        for (const QString &fd : entries(fdFolder)) {
            const QString target = linkText(fdFolder + fd);
            if (!target.startsWith(QLatin1String("socket:[")))
                continue;
            const quint64 inode = target.mid(8).chopped(1).toULongLong();
            if (!inodes.contains(inode) || seen.contains(inode))
                continue;
            seen.append(inode);
            const QString comm = readText(proc + pid + QLatin1String("/comm"));
            const QString who = QStringLiteral("%1 (pid %2)").arg(comm, pid);
            if (!named.contains(who))
                named.append(who);
            if (comm != QLatin1String("tolvane"))
                onlyTolvane = false;
        }
    }
    QStringList hidden;
    for (int i = 0; i < inodes.size(); ++i) {
        if (seen.contains(inodes[i]))
            continue;
        onlyTolvane = false;
        const QString who = QStringLiteral("a program of user %1 that this user cannot see (sudo tolvane-probe "
                                           "doctor names it)")
                                .arg(userName(uids[i]));
        if (!hidden.contains(who))
            hidden.append(who);
    }
    *tolvaneOnly = onlyTolvane;
    return (named + hidden).join(QLatin1String(" and "));
}

QList<Finding> Doctor::listeningPorts()
{
    QList<Finding> out;
    struct Check {
        QString topic;
        QStringList tables;
        quint16 port;
        bool tcp;
    };
    const QList<Check> checks = {
        {QStringLiteral("tcp %1").arg(tcpPort), {QStringLiteral("tcp"), QStringLiteral("tcp6")}, tcpPort, true},
        {QStringLiteral("udp %1").arg(udpPort), {QStringLiteral("udp"), QStringLiteral("udp6")}, udpPort, false},
    };
    for (const Check &c : checks) {
        QList<quint64> inodes;
        QList<uid_t> uids;
        for (const QString &table : c.tables) {
            for (const SocketEntry &s : socketsOnPort(path(QStringLiteral("/proc/net/") + table), c.port, c.tcp)) {
                inodes.append(s.inode);
                uids.append(s.uid);
            }
        }
        if (inodes.isEmpty()) {
            out.append({Level::Ok, c.topic,
                        c.tcp ? QStringLiteral("free, Tolvane can listen for the control program")
                              : QStringLiteral("free, Tolvane can receive discovery probes")});
            continue;
        }
        bool tolvaneOnly = false;
        const QString who = owners(inodes, uids, &tolvaneOnly);
        if (tolvaneOnly) {
            out.append({Level::Ok, c.topic,
                        QStringLiteral("taken by %1: a bridge is already running here, a second one would not get "
                                       "the port")
                            .arg(who)});
        } else if (c.tcp) {
            out.append({Level::Fail, c.topic,
                        QStringLiteral("taken by %1: Tolvane cannot listen and control programs reach that program "
                                       "instead; stop it")
                            .arg(who)});
        } else {
            out.append({Level::Warn, c.topic,
                        QStringLiteral("taken by %1: Tolvane shares the port only if that program allows sharing, "
                                       "otherwise discovery probes go unanswered; stop it")
                            .arg(who)});
        }
    }
    return out;
}

QList<Finding> Doctor::configuredPort(const QString &iniPath)
{
    if (!QFileInfo::exists(iniPath)) {
        if (!hasUsableDevice())
            return {
                {Level::Ok, QStringLiteral("config"),
                 QStringLiteral("no %1 yet; Tolvane writes it when you press Apply in Config > Serial").arg(iniPath)}};
        return {{Level::Warn, QStringLiteral("config"),
                 QStringLiteral("no %1 yet, so Tolvane first tries port \"%2\" and shows an \"Error\" box; choose "
                                "the port in Config > Serial and press Apply")
                     .arg(iniPath, settingsfile::Texts().port)}};
    }
    const QString port = settingsfile::read(iniPath).port;
    const QString node = portlist::devicePath(port);
    if (QFileInfo::exists(path(node))) {
        QString text = QStringLiteral("%1 names port %2, which is present").arg(iniPath, port);
        for (const Device &d : devices())
            if (node == QStringLiteral("/dev/") + d.name && !d.byId.isEmpty())
                text += QStringLiteral("; %1=%2 would name the same adapter when it comes back under another name")
                            .arg(QLatin1String(settingsfile::portKey), d.byId.first());
        return {{Level::Ok, QStringLiteral("config"), text}};
    }
    return {{Level::Fail, QStringLiteral("config"),
             QStringLiteral("%1 names port %2, but %3 does not exist; choose a present port in Config > Serial and "
                            "press Apply")
                 .arg(iniPath, port, node)}};
}

QList<Finding> Doctor::discoveryAddress(const QList<netinfo::Interface> &interfaces)
{
    const QString unknown = QStringLiteral("???");
    QStringList usable, skippedVm;
    for (const netinfo::Interface &iface : interfaces) {
        if (netinfo::localNetInfo({iface}, netinfo::Ipv4Addresses).first() != unknown) {
            usable.append(iface.humanReadableName);
        } else if (iface.humanReadableName.contains(QLatin1String("VM"))) {
            netinfo::Interface renamed = iface;
            renamed.humanReadableName.clear();
            if (netinfo::localNetInfo({renamed}, netinfo::Ipv4Addresses).first() != unknown)
                skippedVm.append(iface.humanReadableName);
        }
    }
    QString notes;
    if (usable.size() > 1)
        notes += QStringLiteral("; also usable but not named: ") + usable.mid(1).join(QLatin1String(", "));
    if (!skippedVm.isEmpty())
        notes += QStringLiteral("; skipped because the name contains \"VM\": ") + skippedVm.join(QLatin1String(", "));
    const QString address = netinfo::localNetInfo(interfaces, netinfo::Ipv4Addresses).first();
    if (address == unknown) {
        return {{Level::Warn, QStringLiteral("discovery"),
                 QStringLiteral("no interface is up with an IPv4 address other than loopback and a name without "
                                "\"VM\", so replies and the window title name ???; connect the network, then restart "
                                "Tolvane")
                     + notes}};
    }
    const QString hardware = netinfo::localNetInfo(interfaces, netinfo::HardwareAddresses).first();
    return {{Level::Ok, QStringLiteral("discovery"),
             QStringLiteral("replies and the window title name %1 and %2 (interface %3)")
                     .arg(address, hardware, usable.first())
                 + notes}};
}

QList<Finding> Doctor::run(const QList<netinfo::Interface> &interfaces, const QString &iniPath)
{
    return serialDevices() + userGroups() + deviceAccess() + portGrabbers() + latencyTimers() + configuredPort(iniPath)
        + listeningPorts() + discoveryAddress(interfaces);
}

} // namespace doctor
