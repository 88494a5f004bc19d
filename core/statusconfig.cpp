#include "core/statusconfig.h"

#include "core/product.h"

#include <QFileInfo>
#include <QSettings>

namespace statusconfig {

std::optional<quint16> port(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int n = text.toInt();
    if (n < 1 || n > 65535)
        return std::nullopt;
    return quint16(n);
}

std::optional<QHostAddress> bindAddress(const QString &text)
{
    if (text.isEmpty())
        return QHostAddress(QHostAddress::Any);
    const QHostAddress address(text);
    if (address.isNull())
        return std::nullopt;
    return address;
}

std::optional<quint16> portFromIni(const QString &iniPath)
{
    // QSettings would create nothing here, but an absent file is no reason to ask it.
    if (!QFileInfo(iniPath).isFile())
        return std::nullopt;
    const QSettings ini(iniPath, QSettings::IniFormat);
    return port(ini.value(QStringLiteral("%1/%2").arg(QLatin1String(product::iniStatusGroup),
                                                      QLatin1String(product::iniStatusPortKey)))
                    .toString()
                    .trimmed());
}

} // namespace statusconfig
