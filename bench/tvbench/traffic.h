// The traffic the soak throws at the bridge: seeded randomness, hostile markup, junk TCP text and
// datagrams that are or are not probes.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tvbench {

struct Random {
    std::mt19937_64 engine;
    explicit Random(long seed)
        : engine(uint64_t(seed))
    { }
    double real() { return std::uniform_real_distribution<double>(0, 1)(engine); }
    long between(long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(engine); }
    template <typename T> T pick(const std::vector<T> &v) { return v[size_t(between(0, long(v.size()) - 1))]; }
    std::string bytes(long n)
    {
        std::string s(size_t(n), '\0');
        for (char &c : s)
            c = char(between(0, 255));
        return s;
    }
    std::string from(const std::string &alphabet, long n)
    {
        std::string s(size_t(n), '\0');
        for (char &c : s)
            c = alphabet[size_t(between(0, long(alphabet.size()) - 1))];
        return s;
    }
};

inline std::string repeat(const std::string &s, int n)
{
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

// A literal that may hold NUL bytes.
template <size_t N> std::string lit(const char (&s)[N]) { return std::string(s, N - 1); }

// Markup that must stay text: anything here that made the bridge open a file, a device or a URL
// shows in the soak's strace log or as a connection to its trap listener.
const std::vector<std::string> &markupTexts();
// DEPTH nested tags of KIND (div, table, b).
std::string nested(const std::string &kind, long depth);
// One chunk of hostile TCP bytes: random, NUL-laden, invalid UTF-8, "op "-prefixed, huge, markup. It
// may set projector values ("op KEY = VALUE"), but never the serial number the round trips ask for.
std::string junkChunk(Random &r);
// A datagram that is not a probe ("?ZZ?" absent before the first zero byte), some of them near misses.
std::string nonProbe(Random &r, bool markup);
std::string probe(Random &r);

} // namespace tvbench
