#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken rule must stop the fuzzer like a crash does, with the rule named.
#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "rule broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                              \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

namespace fuzz {

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// Stable pseudo-random numbers from the input, for the parts of a case the input does not spell out.
inline quint32 hash(const QByteArray &b)
{
    quint32 h = 2166136261u;
    for (char c : b)
        h = (h ^ quint8(c)) * 16777619u;
    return h;
}

// Bytes that decode to UTF-8 and back unchanged: valid UTF-8 without NUL.
inline bool isCleanUtf8(const QByteArray &b) { return !b.contains('\0') && QString::fromUtf8(b).toUtf8() == b; }

// Only the printable ASCII characters that are not blanks: what no decoding or simplification may lose.
inline QByteArray asciiInk(const QByteArray &b)
{
    QByteArray out;
    for (char c : b) {
        if (c > ' ' && c < 0x7f)
            out.append(c);
    }
    return out;
}

inline bool isSimplified(const QString &s)
{
    for (int i = 0; i < s.size(); ++i) {
        if (!s.at(i).isSpace())
            continue;
        if (s.at(i) != QLatin1Char(' ') || i == 0 || i == s.size() - 1 || s.at(i - 1).isSpace())
            return false;
    }
    return true;
}

} // namespace fuzz
