#pragma once

#include <map>
#include <optional>
#include <string>

// What the stand-in projector does with the lines it receives.

// The device's command set: "op KEY ?" reads a value, "op KEY = VALUE" stores one.
class ProjectorTable
{
public:
    ProjectorTable();
    void set(const std::string &key, const std::string &value);
    // The reply line with its CR LF, or nullopt for a line the device does not answer.
    std::optional<std::string> answer(const std::string &line);

private:
    std::map<std::string, std::string> values;
};

// Splits the received bytes into command lines: CR, CR LF or a bare LF end a line.
class LineSplitter
{
public:
    static constexpr size_t maxLine = 64 * 1024;

    // Called with each complete line; overlong lines are reported by their length instead.
    template <typename OnLine, typename OnOverlong>
    void feed(const char *data, size_t size, OnLine onLine, OnOverlong onOverlong)
    {
        for (size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n' && afterCR) {
                afterCR = false;
                continue;
            }
            afterCR = c == '\r';
            if (c == '\r' || c == '\n') {
                if (dropped > 0)
                    onOverlong(dropped + line.size());
                else
                    onLine(line);
                line.clear();
                dropped = 0;
                continue;
            }
            if (line.size() >= maxLine) {
                dropped += line.size();
                line.clear();
            }
            line.push_back(c);
        }
    }

private:
    std::string line;
    size_t dropped = 0;
    bool afterCR = false;
};
