#include "core/discovery.h"

#include "core/product.h"

#include <QRegularExpression>

namespace discovery {

bool isProbe(const QString &record)
{
    return record.contains(QLatin1String(product::discoveryProbe), Qt::CaseSensitive);
}

QByteArray reply(const QString &ip, const QString &mac, int count)
{
    const QString text = QStringLiteral("ip=") + ip + QStringLiteral(";") + QStringLiteral("mac=") + mac
        + QStringLiteral(";") + QStringLiteral("model=") + QLatin1String(product::model) + QStringLiteral(";")
        + QStringLiteral("serial=") + QLatin1String(product::appName) + QStringLiteral("-%1;").arg(count);
    return text.toUtf8();
}

QString destination(const QString &ip, bool windows10)
{
    if (!windows10)
        return QStringLiteral("255.255.255.255");
    const int dot = ip.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? ip : ip.left(dot)) + QStringLiteral(".255");
}

bool parseReply(const QByteArray &bytes, Reply *out)
{
    static const QRegularExpression form(
        QStringLiteral("\\Aip=([^;]*);mac=([^;]*);model=([^;]*);serial=([^;]*?-(-?[0-9]+));\\z"));
    const QRegularExpressionMatch m = form.match(QString::fromUtf8(bytes));
    if (!m.hasMatch())
        return false;
    bool ok = false;
    const qint64 counter = m.captured(5).toLongLong(&ok);
    if (!ok)
        return false;
    out->ip = m.captured(1);
    out->mac = m.captured(2);
    out->model = m.captured(3);
    out->serial = m.captured(4);
    out->counter = counter;
    return true;
}

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
bool runningOnWindows10() { return QSysInfo::windowsVersion() == QSysInfo::WV_WINDOWS10; }
QT_WARNING_POP

} // namespace discovery
