#include "core/settingsfile.h"

#include "core/product.h"

#include <QCoreApplication>
#include <QStandardPaths>

namespace settingsfile {

namespace {
QString &chosen()
{
    static QString file;
    return file;
}
} // namespace

void setPath(const QString &file) { chosen() = file; }

QString path()
{
    if (!chosen().isEmpty())
        return chosen();
    return QStandardPaths::standardLocations(QStandardPaths::AppDataLocation).value(0) + QLatin1Char('/')
        + QLatin1String(product::iniFileName);
}

QString bridgePath()
{
    const QString own = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QLatin1String(bridgeExecutable));
    const QString bridge = path();
    QCoreApplication::setApplicationName(own);
    return bridge;
}

} // namespace settingsfile
