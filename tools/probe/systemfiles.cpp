#include "tools/probe/systemfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace systemfiles {

QString readText(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(f.readAll()).trimmed();
}

QStringList readLines(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString linkText(const QString &link)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(link).constData(), buffer, sizeof buffer - 1);
    return n < 0 ? QString() : QFile::decodeName(QByteArray(buffer, int(n)));
}

QString lastComponent(const QString &linkTarget) { return linkTarget.section(QLatin1Char('/'), -1); }

// ttyUSB2 before ttyUSB10.
static bool naturalLess(const QString &a, const QString &b)
{
    static const QRegularExpression tail(QStringLiteral("^(.*?)(\\d*)$"));
    const auto ma = tail.match(a), mb = tail.match(b);
    if (ma.captured(1) != mb.captured(1))
        return ma.captured(1) < mb.captured(1);
    return ma.captured(2).toULongLong() < mb.captured(2).toULongLong();
}

QStringList entries(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), naturalLess);
    return names;
}

QStringList processIds(const QString &procFolder)
{
    static const QRegularExpression digits(QStringLiteral("^\\d+$"));
    return entries(procFolder).filter(digits);
}

QString modeText(mode_t mode)
{
    QString text = S_ISCHR(mode) ? QStringLiteral("c") : S_ISREG(mode) ? QStringLiteral("-") : QStringLiteral("?");
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QLatin1Char(letters[bit]) : QLatin1Char('-');
    return text;
}

QList<GroupEntry> readGroups(const QString &file)
{
    QList<GroupEntry> groups;
    for (const QString &line : readLines(file)) {
        const QStringList f = line.split(QLatin1Char(':'));
        if (f.size() >= 4)
            groups.append({f[0], gid_t(f[2].toUInt()), f[3].split(QLatin1Char(','), Qt::SkipEmptyParts)});
    }
    return groups;
}

QList<PasswdEntry> readPasswd(const QString &file)
{
    QList<PasswdEntry> users;
    for (const QString &line : readLines(file)) {
        const QStringList f = line.split(QLatin1Char(':'));
        if (f.size() >= 4)
            users.append({f[0], uid_t(f[2].toUInt()), gid_t(f[3].toUInt())});
    }
    return users;
}

QList<SocketEntry> socketsOnPort(const QString &tableFile, quint16 port, bool listeningOnly)
{
    QList<SocketEntry> found;
    const QStringList lines = readLines(tableFile);
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].simplified().split(QLatin1Char(' '));
        if (f.size() < 10)
            continue;
        bool ok = false;
        const uint localPort = f[1].section(QLatin1Char(':'), -1).toUInt(&ok, 16);
        if (!ok || localPort != port)
            continue;
        if (listeningOnly && f[3] != QLatin1String("0A")) // TCP_LISTEN
            continue;
        found.append({f[9].toULongLong(), uid_t(f[7].toUInt())});
    }
    return found;
}

} // namespace systemfiles
