#pragma once

#include <QString>
#include <QVector>

// The serial parameters' value tables and how a stored text becomes a value.
namespace inivalue {

struct Row {
    QString text;
    int value;
};

// The tables in the order the settings dialog offers them.
QVector<Row> baudRates();
QVector<Row> dataBits();
QVector<Row> parities(); // "Mark" before "Space", although their values run the other way
QVector<Row> stopBits();
QVector<Row> flowControls();

// The value of the row whose text equals the stored text exactly; otherwise the text read as a
// decimal integer, or 0 when it is none.
int value(const QString &stored, const QVector<Row> &table);

// "", "0" and "false" (any case) are false; every other text is true.
bool boolean(const QString &stored);

} // namespace inivalue
