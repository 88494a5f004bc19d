#pragma once

#include <QCommandLineParser>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The tools' command lines: one QCommandLineParser per (sub-)command, with one wording for every
// mistake and exit status 2 for all of them, so people and scripts meet the same messages everywhere.
namespace cmdline {

// Exit status for a command line that cannot be used.
inline constexpr int badArguments = 2;

class Command
{
public:
    enum class Parsed { Run, Help, Version, Bad };

    // `name` as the user types it ("tolvane-probe send"); `synopsis` what follows it in the usage line
    // ("HOST COMMAND [OPTIONS]"); `about` the lines under it in --help.
    Command(const QString &name, const QString &synopsis, const QString &about);

    void addValue(const QString &name, const QString &valueName, const QString &description);
    void addFlag(const QString &name, const QString &description);
    // Shown under "Arguments:" in --help.
    void addArgument(const QString &name, const QString &description, const QString &syntax = QString());
    // How many positional arguments the command takes (none unless said), and what to say when
    // there are fewer.
    void expectArguments(int min, int max, const QString &missing);

    // The arguments after the command's name. --help and --version win over everything else but a
    // mistake in the options.
    Parsed parse(const QStringList &args);
    // parse(), then for anything but Run what to exit with, the help, the version or the mistake
    // written out; nullopt when the command should run.
    std::optional<int> parseOrExit(const QStringList &args);

    QString name() const { return m_name; }
    QString usage() const;       // "usage: NAME SYNOPSIS"
    QString helpText() const;    // the usage line, `about` and every option and argument
    QString versionText() const; // "PROGRAM VERSION"
    QString error() const { return m_error; }

    bool isSet(const QString &name) const { return m_parser.isSet(name); }
    QString value(const QString &name) const { return m_parser.value(name); }
    QStringList values(const QString &name) const { return m_parser.values(name); }
    QStringList positional() const { return m_parser.positionalArguments(); }

    // A decimal number from min to max; an option that is not given leaves *value as it is. False
    // (and error() saying why) for anything else: signs, blanks, other digits, out of range.
    bool number(const QString &name, qint64 min, qint64 max, qint64 *value);

    // Writes "NAME: REASON (see 'NAME --help')" to standard error and returns badArguments.
    int bad(const QString &reason) const;

private:
    QString mistake(const QStringList &args) const;
    QString argumentMistake() const;

    QString m_name;
    QString m_synopsis;
    QString m_about;
    QCommandLineParser m_parser;
    QString m_error;
    QSet<QString> m_flags;
    QSet<QString> m_valued;
    int m_minArguments = 0;
    int m_maxArguments = 0;
    QString m_missing;
};

} // namespace cmdline
