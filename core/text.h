#pragma once

#include <QByteArray>
#include <QString>

// How bytes from the wire become text, the same for TCP, UDP and the serial line.
namespace text {

// UTF-8 up to (not including) the first NUL byte; invalid sequences become replacement characters.
QString utf8UpToNul(const QByteArray &bytes);

// True when the text begins with "op " in any letter case: a projector command or reply.
bool startsWithOp(const QString &text);

// The bytes as one printable line: \\ \0 \t \r \n for themselves, \xHH for every other byte outside
// printable ASCII, so what a peer sent can be shown (and compared) exactly.
QString escapeBytes(const QByteArray &bytes);

// The reverse of escapeBytes; other characters are taken as UTF-8. False for a bad escape.
bool unescapeBytes(const QString &text, QByteArray *out);

} // namespace text
