#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The serial ports the settings dialog lists, and the TOLVANE_SERIAL_PORTS override.
namespace portlist {

struct Port {
    QString name;
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString systemLocation;
    quint16 vendorIdentifier = 0;
    quint16 productIdentifier = 0;
};

// The seven texts a port's list item carries: name, description, manufacturer, serial number,
// location, vendor id, product id. Empty texts and zero identifiers read "N/A"; identifiers are
// lowercase hexadecimal without prefix.
QStringList itemData(const Port &port);

// The override's comma-separated entries as ports named and located by the entry itself.
// An empty value means no port at all.
QList<Port> fromOverride(const QString &value);

// The device file a configured port name opens on a system with /dev, as the serial port library
// resolves it: a path (absolute, or starting "./" or "../") as it is, a bare name such as "ttyUSB0"
// under /dev. Links are not followed: a /dev/serial/by-id name stays that name.
QString devicePath(const QString &name);

} // namespace portlist
