#include "core/cmdline.h"

#include "core/version.h"

#include <QRegularExpression>
#include <QTextStream>

namespace cmdline {

namespace {
const QString helpName = QStringLiteral("help");
const QString versionName = QStringLiteral("version");
} // namespace

Command::Command(const QString &name, const QString &synopsis, const QString &about)
    : m_name(name)
    , m_synopsis(synopsis)
    , m_about(about)
{
    // Qt's own help option would offer --help-all, which lists the GUI's options; these tools have none.
    m_parser.addOption(QCommandLineOption({QStringLiteral("h"), helpName}, QStringLiteral("show this help")));
    m_parser.addOption(QCommandLineOption(versionName, QStringLiteral("show the version")));
    m_flags = {helpName, versionName};
}

void Command::addValue(const QString &name, const QString &valueName, const QString &description)
{
    m_parser.addOption(QCommandLineOption(name, description, valueName));
    m_valued.insert(name);
}

void Command::addFlag(const QString &name, const QString &description)
{
    m_parser.addOption(QCommandLineOption(name, description));
    m_flags.insert(name);
}

void Command::addArgument(const QString &name, const QString &description, const QString &syntax)
{
    m_parser.addPositionalArgument(name, description, syntax);
}

void Command::expectArguments(int min, int max, const QString &missing)
{
    m_minArguments = min;
    m_maxArguments = max;
    m_missing = missing;
}

QString Command::argumentMistake() const
{
    const QStringList given = m_parser.positionalArguments();
    if (given.size() < m_minArguments)
        return m_missing;
    if (given.size() > m_maxArguments)
        return QStringLiteral("unexpected argument '%1'").arg(given.at(m_maxArguments));
    return QString();
}

Command::Parsed Command::parse(const QStringList &args)
{
    m_error.clear();
    if (!m_parser.parse(QStringList(m_name) + args)) {
        m_error = mistake(args);
        return Parsed::Bad;
    }
    if (m_parser.isSet(helpName))
        return Parsed::Help;
    if (m_parser.isSet(versionName))
        return Parsed::Version;
    m_error = argumentMistake();
    return m_error.isEmpty() ? Parsed::Run : Parsed::Bad;
}

// The parser's complaint in the tools' own words.
QString Command::mistake(const QStringList &args) const
{
    const QStringList unknown = m_parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString &first = unknown.first();
        return QStringLiteral("unknown option %1%2")
            .arg(first.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), first);
    }
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--"))
            break;
        if (!arg.startsWith(QLatin1String("--")))
            continue;
        const int eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg.mid(2) : arg.mid(2, eq - 2);
        if (eq >= 0 && m_flags.contains(name))
            return QStringLiteral("option --%1 takes no value").arg(name);
        if (eq < 0 && m_valued.contains(name) && i + 1 == args.size())
            return QStringLiteral("option --%1 needs a value").arg(name);
    }
    return m_parser.errorText(); // not met so far; Qt's words then
}

std::optional<int> Command::parseOrExit(const QStringList &args)
{
    switch (parse(args)) {
    case Parsed::Run: return std::nullopt;
    case Parsed::Help: QTextStream(stdout) << helpText(); return 0;
    case Parsed::Version: QTextStream(stdout) << versionText() << '\n'; return 0;
    case Parsed::Bad: break;
    }
    return bad(m_error);
}

QString Command::versionText() const
{
    return m_name.section(QLatin1Char(' '), 0, 0) + QLatin1Char(' ') + QLatin1String(version::number);
}

QString Command::usage() const
{
    return m_synopsis.isEmpty() ? QStringLiteral("usage: ") + m_name
                                : QStringLiteral("usage: %1 %2").arg(m_name, m_synopsis);
}

QString Command::helpText() const
{
    QString options = m_parser.helpText();
    // Qt's first lines are its own usage line and description; ours say more.
    options = options.mid(options.indexOf(QLatin1String("\nOptions:")) + 1);
    return usage() + QLatin1Char('\n') + (m_about.isEmpty() ? QString() : m_about + QLatin1Char('\n'))
        + QLatin1Char('\n') + options;
}

bool Command::number(const QString &name, qint64 min, qint64 max, qint64 *value)
{
    if (!m_parser.isSet(name))
        return true;
    const QString text = m_parser.value(name);
    static const QRegularExpression digits(QStringLiteral("\\A[0-9]{1,18}\\z"));
    const bool ok = digits.match(text).hasMatch();
    const qint64 number = ok ? text.toLongLong() : 0;
    if (!ok || number < min || number > max) {
        m_error =
            QStringLiteral("--%1 wants a whole number from %2 to %3, not '%4'").arg(name).arg(min).arg(max).arg(text);
        return false;
    }
    *value = number;
    return true;
}

int Command::bad(const QString &reason) const
{
    QTextStream(stderr) << m_name << ": " << reason << " (see '" << m_name << " --help')\n";
    return badArguments;
}

} // namespace cmdline
