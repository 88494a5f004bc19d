#include "tools/probe/options.h"

bool parseOptions(const QStringList &args, const QSet<QString> &valued, const QSet<QString> &flagNames,
                  Options *out, QString *error)
{
    Options result;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1String("--"))) {
            result.positional.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const int eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg : arg.left(eq);
        if (flagNames.contains(name)) {
            if (eq >= 0) {
                *error = QStringLiteral("option %1 takes no value").arg(name);
                return false;
            }
            result.flags.insert(name);
        } else if (valued.contains(name)) {
            if (eq >= 0) {
                result.values.insert(name, arg.mid(eq + 1));
            } else if (i + 1 < args.size()) {
                result.values.insert(name, args.at(++i));
            } else {
                *error = QStringLiteral("option %1 needs a value").arg(name);
                return false;
            }
        } else {
            *error = QStringLiteral("unknown option %1").arg(name);
            return false;
        }
    }
    *out = result;
    return true;
}

bool parseNumber(const Options &options, const QString &name, qint64 min, qint64 max, qint64 *value,
                 QString *error)
{
    if (!options.values.contains(name))
        return true; // the caller's default stays
    const QString text = options.values.value(name);
    bool ok = false;
    const qint64 number = text.toLongLong(&ok, 10);
    if (!ok || number < min || number > max || text.startsWith(QLatin1Char('+'))) {
        *error = QStringLiteral("%1 wants a whole number from %2 to %3, not '%4'").arg(name).arg(min).arg(max).arg(text);
        return false;
    }
    *value = number;
    return true;
}
