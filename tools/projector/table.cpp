#include "tools/projector/projector.h"

#include "core/product.h"

#include <cctype>
#include <cstdio>

std::string escapeBytes(const std::string &bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\0': out += "\\0"; break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                out.push_back(char(c));
            } else {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            }
        }
    }
    return out;
}

static int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> unescapeArgument(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case 'r': out.push_back('\r'); break;
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case '0': out.push_back('\0'); break;
        case '\\': out.push_back('\\'); break;
        case 'x': {
            int value = 0;
            int digits = 0;
            while (digits < 2 && i + 1 < text.size() && hexDigit(text[i + 1]) >= 0) {
                value = value * 16 + hexDigit(text[++i]);
                ++digits;
            }
            if (digits == 0)
                return std::nullopt;
            out.push_back(char(value));
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::string toLower(std::string text)
{
    for (char &c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string toUpper(std::string text)
{
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

static bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

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
    : values{{"model", product::model}, {"ser.no", product::serialNumber}, {"status", "1"},
             {"power", "1"},       {"input", "HDMI1"},        {"lamp", "1200"}}
{
}

void ProjectorTable::set(const std::string &key, const std::string &value)
{
    values[toLower(trimmed(key))] = value;
}

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
