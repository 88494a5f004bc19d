#include "core/inivalue.h"

#include <QCoreApplication>

namespace inivalue {

static QString tr(const char *text) { return QCoreApplication::translate("SettingsDialog", text); }

QVector<Row> baudRates()
{
    return {{QStringLiteral("9600"), 9600},
            {QStringLiteral("19200"), 19200},
            {QStringLiteral("38400"), 38400},
            {QStringLiteral("115200"), 115200}};
}

QVector<Row> dataBits()
{
    return {{QStringLiteral("5"), 5}, {QStringLiteral("6"), 6}, {QStringLiteral("7"), 7}, {QStringLiteral("8"), 8}};
}

QVector<Row> parities()
{
    return {{tr("None"), 0}, {tr("Even"), 2}, {tr("Odd"), 3}, {tr("Mark"), 5}, {tr("Space"), 4}};
}

QVector<Row> stopBits() { return {{QStringLiteral("1"), 1}, {tr("1.5"), 3}, {QStringLiteral("2"), 2}}; }

QVector<Row> flowControls() { return {{tr("None"), 0}, {tr("RTS/CTS"), 1}, {tr("XON/XOFF"), 2}}; }

int value(const QString &stored, const QVector<Row> &table)
{
    for (const Row &row : table) {
        if (row.text == stored)
            return row.value;
    }
    return stored.toInt(); // 0 when not a decimal number
}

bool boolean(const QString &stored)
{
    // The same rule QSettings applies to a stored boolean.
    return !(stored.isEmpty() || stored == QLatin1String("0") || stored.toLower() == QLatin1String("false"));
}

} // namespace inivalue
