#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVector>

// How the probe's sub-commands print: aligned tables for people, JSON for scripts.
namespace output {

// Bytes from the wire in JSON: escaped as text::escapeBytes does (\\ \0 \t \r \n \xHH), which
// text::unescapeBytes and Python's codecs.escape_decode read back byte for byte.
QJsonValue bytes(const QByteArray &raw);

// Milliseconds, to the microsecond.
QJsonValue ms(double value);

// One JSON document on standard output: indented, or on one line (`watch`).
void json(const QJsonObject &document, bool oneLine = false);

// Columns padded to their widest cell and two blanks apart; the last column is not padded.
QString table(const QStringList &header, const QVector<QStringList> &rows);

// A JSON value in a table cell: a text as it is, a number briefly, a dash for null or nothing.
QString cell(const QJsonValue &value);

// "3.2 ms"
QString msText(double value);

} // namespace output
