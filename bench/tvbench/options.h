// tvbench's command line.
#pragma once

#include "bench/tvbench/common.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace tvbench {

// --name VALUE, --name=VALUE, or --name alone (a flag); repeated names keep every value.
class Options
{
public:
    Options(int argc, char **argv)
    {
        for (int i = 2; i < argc; ++i) {
            std::string name = argv[i];
            if (name.compare(0, 2, "--") != 0)
                die("unexpected argument " + name);
            name.erase(0, 2);
            std::string value;
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.erase(eq);
            } else if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
                value = argv[++i];
            }
            values.emplace(name, value);
        }
    }
    bool has(const std::string &name) const { return values.count(name) > 0; }
    std::string str(const std::string &name, const std::string &fallback = {}) const
    {
        const auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
    std::string need(const std::string &name) const
    {
        if (!has(name) || str(name).empty())
            die("--" + name + " is needed");
        return str(name);
    }
    double num(const std::string &name, double fallback) const
    {
        if (!has(name))
            return fallback;
        char *end = nullptr;
        const std::string text = str(name);
        const double v = std::strtod(text.c_str(), &end);
        if (text.empty() || *end || v < 0)
            die("bad number for --" + name);
        return v;
    }
    long whole(const std::string &name, long fallback) const { return long(num(name, double(fallback))); }
    std::vector<std::string> all(const std::string &name) const
    {
        std::vector<std::string> out;
        const auto range = values.equal_range(name);
        for (auto it = range.first; it != range.second; ++it)
            out.push_back(it->second);
        return out;
    }

private:
    std::multimap<std::string, std::string> values;
};

} // namespace tvbench
