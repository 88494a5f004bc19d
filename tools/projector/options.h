#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// The stand-in projector's command line.
struct Options {
    long delayMs = 2;
    bool echo = true;
    bool silent = false;
    bool oneChunk = false;
    bool noise = false;
    bool termiosToStdout = false;
    long baud = 0;
    long unplugAfter = 0;
    long unplugGraceMs = 200;
    long replugEveryMs = 0;   // 0: no timer
    long unpluggedForMs = -1; // -1: until a signal after a signal, a second after the timer
    std::string linkPath;
    std::string logPath;
    std::vector<std::pair<std::string, std::string>> overrides; // --set KEY=VALUE, VALUE unescaped
};

// Reads the arguments after the program's name; for --help, --version or a mistake, what to exit
// with once the help, the version or the mistake has been written out.
std::optional<int> parseOptions(const std::vector<std::string> &args, Options *options);
