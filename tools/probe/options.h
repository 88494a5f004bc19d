#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// Command-line options of one sub-command: "--name value" or "--name=value" for valued options,
// bare "--name" for flags, everything else positional ("--" ends the options).
struct Options {
    QStringList positional;
    QMap<QString, QString> values;
    QSet<QString> flags;

    bool has(const QString &name) const { return values.contains(name) || flags.contains(name); }
};

// False with a one-line reason for an unknown option or a missing value.
bool parseOptions(const QStringList &args, const QSet<QString> &valued, const QSet<QString> &flagNames,
                  Options *out, QString *error);

// A decimal number within [min, max]; false with a reason naming the option otherwise.
bool parseNumber(const Options &options, const QString &name, qint64 min, qint64 max, qint64 *value,
                 QString *error);
