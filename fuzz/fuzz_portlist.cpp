// The TOLVANE_SERIAL_PORTS override and the texts a port's list item carries.
#include "fuzz/check.h"

#include "core/portlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    const QString value = QString::fromUtf8(input);

    // Every comma-separated entry that is more than white space names one port, in order.
    QStringList expected;
    for (const QString &entry : value.split(QLatin1Char(','))) {
        int b = 0, e = entry.size();
        while (b < e && entry[b].isSpace())
            ++b;
        while (e > b && entry[e - 1].isSpace())
            --e;
        if (e > b)
            expected << entry.mid(b, e - b);
    }
    const QList<portlist::Port> ports = portlist::fromOverride(value);
    FUZZ_CHECK(ports.size() == expected.size());
    for (int i = 0; i < ports.size(); ++i) {
        const portlist::Port &port = ports[i];
        FUZZ_CHECK(port.name == expected[i] && port.systemLocation == expected[i]);
        FUZZ_CHECK(!port.name.contains(QLatin1Char(',')));

        // An override port has nothing but its name: every other text reads "N/A".
        const QStringList item = portlist::itemData(port);
        FUZZ_CHECK(item
                   == (QStringList{port.name, QStringLiteral("N/A"), QStringLiteral("N/A"), QStringLiteral("N/A"),
                                   port.name, QStringLiteral("N/A"), QStringLiteral("N/A")}));
    }

    // A port the system reports: identifiers in lowercase hexadecimal, empty texts "N/A".
    portlist::Port real;
    real.name = value.section(QLatin1Char(','), 0, 0);
    real.description = value.section(QLatin1Char(','), 1, 1);
    real.manufacturer = value.section(QLatin1Char(','), 2, 2);
    real.serialNumber = value.section(QLatin1Char(','), 3, 3);
    real.systemLocation = value.section(QLatin1Char(','), 4, 4);
    const quint32 h = fuzz::hash(input);
    real.vendorIdentifier = quint16(h & (size % 3 ? 0xffff : 0));
    real.productIdentifier = quint16(h >> 16);
    const QStringList item = portlist::itemData(real);
    FUZZ_CHECK(item.size() == 7);
    FUZZ_CHECK(item[0] == real.name && item[4] == real.systemLocation);
    const QString texts[] = {real.description, real.manufacturer, real.serialNumber};
    for (int i = 0; i < 3; ++i)
        FUZZ_CHECK(item[1 + i] == (texts[i].isEmpty() ? QStringLiteral("N/A") : texts[i]));
    const quint16 ids[] = {real.vendorIdentifier, real.productIdentifier};
    for (int i = 0; i < 2; ++i) {
        const QString &id = item[5 + i];
        if (!ids[i]) {
            FUZZ_CHECK(id == QLatin1String("N/A"));
            continue;
        }
        bool ok = false;
        FUZZ_CHECK(id.toUShort(&ok, 16) == ids[i] && ok);
        FUZZ_CHECK(id == id.toLower() && !id.startsWith(QLatin1String("0")) && id.size() <= 4);
    }
    return 0;
}
