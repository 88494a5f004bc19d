#include "core/portlist.h"

namespace portlist {

static QString orNA(const QString &text) { return text.isEmpty() ? QStringLiteral("N/A") : text; }

static QString idOrNA(quint16 id) { return id ? QString::number(id, 16) : QStringLiteral("N/A"); }

QStringList itemData(const Port &port)
{
    return {port.name,           orNA(port.description),        orNA(port.manufacturer),       orNA(port.serialNumber),
            port.systemLocation, idOrNA(port.vendorIdentifier), idOrNA(port.productIdentifier)};
}

QList<Port> fromOverride(const QString &value)
{
    QList<Port> ports;
    const QStringList entries = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &entry : entries) {
        const QString path = entry.trimmed();
        if (path.isEmpty())
            continue;
        Port port;
        port.name = path;
        port.systemLocation = path;
        ports.append(port);
    }
    return ports;
}

QString devicePath(const QString &name)
{
    for (const char *path : {"/", "./", "../"}) {
        if (name.startsWith(QLatin1String(path)))
            return name;
    }
    return QStringLiteral("/dev/") + name;
}

} // namespace portlist
