#include "tools/projector/commands.h"

#include "core/product.h"

#include <cctype>

static std::string toLower(std::string text)
{
    for (char &c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

static std::string toUpper(std::string text)
{
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

static bool isBlank(char c) { return c == ' ' || c == '\t'; }

static std::string trimmed(const std::string &text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

ProjectorTable::ProjectorTable()
    : values{{"model", product::model}, {"ser.no", product::serialNumber},
             {"status", "1"},           {"power", "1"},
             {"input", "HDMI1"},        {"lamp", "1200"}}
{ }

void ProjectorTable::set(const std::string &key, const std::string &value) { values[toLower(trimmed(key))] = value; }

std::optional<std::string> ProjectorTable::answer(const std::string &line)
{
    size_t pos = 0;
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    if (line.size() < pos + 3 || toLower(line.substr(pos, 2)) != "op" || !isBlank(line[pos + 2]))
        return std::nullopt;
    const std::string rest = trimmed(line.substr(pos + 3));

    std::string key;
    std::string value;
    if (!rest.empty() && rest.back() == '?') {
        key = trimmed(rest.substr(0, rest.size() - 1));
        const auto found = values.find(toLower(key));
        value = found == values.end() ? "NA" : found->second;
    } else if (const size_t eq = rest.find('='); eq != std::string::npos) {
        key = trimmed(rest.substr(0, eq));
        value = trimmed(rest.substr(eq + 1));
        values[toLower(key)] = value;
    } else {
        // Neither a query nor a setting: the device does not know it.
        key = rest;
        value = "NA";
    }
    return "OP " + toUpper(key) + "=" + value + "\r\n";
}
