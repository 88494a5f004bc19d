#include "core/settingsfile.h"

#include "core/inivalue.h"
#include "core/product.h"

#include <QCoreApplication>
#include <QSettings>
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

Texts read(const QString &path)
{
    Texts t; // the defaults, each kept when its key is missing
    QSettings ini(path, QSettings::IniFormat);
    ini.beginGroup(QLatin1String(product::iniGroup));
    t.port = ini.value(QLatin1String(portKey), t.port).toString();
    t.baudRate = ini.value(QLatin1String(baudRateKey), t.baudRate).toString();
    t.dataBits = ini.value(QLatin1String(dataBitsKey), t.dataBits).toString();
    t.parity = ini.value(QLatin1String(parityKey), t.parity).toString();
    t.stopBits = ini.value(QLatin1String(stopBitsKey), t.stopBits).toString();
    t.flowControl = ini.value(QLatin1String(flowControlKey), t.flowControl).toString();
    t.localEcho = ini.contains(QLatin1String(localEchoKey))
        ? inivalue::boolean(ini.value(QLatin1String(localEchoKey)).toString())
        : t.localEcho;
    ini.endGroup();
    return t;
}

void write(const QString &path, const Texts &texts)
{
    QSettings ini(path, QSettings::IniFormat);
    ini.beginGroup(QLatin1String(product::iniGroup));
    ini.setValue(QLatin1String(portKey), texts.port);
    ini.setValue(QLatin1String(baudRateKey), texts.baudRate);
    ini.setValue(QLatin1String(dataBitsKey), texts.dataBits);
    ini.setValue(QLatin1String(parityKey), texts.parity);
    ini.setValue(QLatin1String(stopBitsKey), texts.stopBits);
    ini.setValue(QLatin1String(flowControlKey), texts.flowControl);
    ini.setValue(QLatin1String(localEchoKey), texts.localEcho);
    ini.endGroup();
}

} // namespace settingsfile
