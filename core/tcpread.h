#pragma once

#include <QString>

#include <functional>

// How the bytes a TCP client sends become command texts. There is no line framing: each read is one
// text, whatever lines it holds.
namespace tcpread {

// One read takes at most this many bytes: the 1024-byte buffer keeps its last byte for the zero that
// ends the text.
inline constexpr int maxRead = 1023;

// Where the bytes come from. Both are asked afresh on every round, so they may follow a current
// client that changes in between.
struct Source {
    std::function<qint64()> pending;            // bytes waiting to be read
    std::function<qint64(char *, qint64)> read; // reads up to that many, returns how many it got
};

// What one read gives: the bytes up to the first zero byte as UTF-8 (invalid sequences become
// replacement characters), and that text whitespace-simplified, which is the command.
using Deliver = std::function<void(const QString &decoded, const QString &command)>;

// One readiness notification: reads what is pending into a zeroed buffer, at most maxRead bytes a
// round, and delivers each round's text; another round while bytes are still pending afterwards.
// A source with nothing pending still gives one (empty) text.
void readPending(const Source &source, const Deliver &deliver);

} // namespace tcpread
