#include "tools/probe/output.h"

#include "core/text.h"

#include <QJsonDocument>
#include <QTextStream>

#include <cmath>

namespace output {

QJsonValue bytes(const QByteArray &raw) { return text::escapeBytes(raw); }

QJsonValue ms(double value) { return std::round(value * 1000.0) / 1000.0; }

void json(const QJsonObject &document, bool oneLine)
{
    QTextStream out(stdout);
    const QByteArray text = QJsonDocument(document).toJson(oneLine ? QJsonDocument::Compact : QJsonDocument::Indented);
    out << text;
    if (oneLine)
        out << '\n';
}

QString table(const QStringList &header, const QVector<QStringList> &rows)
{
    QVector<int> width(header.size());
    for (int c = 0; c < header.size(); ++c) {
        width[c] = header.at(c).size();
        for (const QStringList &row : rows)
            width[c] = qMax(width[c], row.value(c).size());
    }
    QString text;
    auto line = [&](const QStringList &cells) {
        for (int c = 0; c < header.size(); ++c)
            text += c + 1 < header.size() ? cells.value(c).leftJustified(width[c] + 2) : cells.value(c);
        text += QLatin1Char('\n');
    };
    line(header);
    for (const QStringList &row : rows)
        line(row);
    return text;
}

QString cell(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QStringLiteral("-");
}

QString msText(double value) { return QString::number(value, 'f', 1) + QStringLiteral(" ms"); }

} // namespace output
