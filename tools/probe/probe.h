#pragma once

#include <QStringList>

#include <optional>

// Sub-commands of tolvane-probe; each takes the arguments after its own name and returns the exit code.
int runDiscover(const QStringList &args);
int runSend(const QStringList &args);
int runWatch(const QStringList &args);
int runSurvey(const QStringList &args);
int runDoctor(const QStringList &args);
int runStatus(const QStringList &args);

// The shape of a sub-command: parse the arguments into Options (or exit with the code parse gives:
// help, version, a mistake), run, then print the Result and exit with what print returns.
template <typename Options, typename Result>
int parseRunPrint(const QStringList &args, std::optional<int> (*parse)(const QStringList &, Options *),
                  Result (*run)(const Options &), int (*print)(const Options &, const Result &))
{
    Options options;
    if (const auto done = parse(args, &options))
        return *done;
    return print(options, run(options));
}
