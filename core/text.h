#pragma once

#include <QByteArray>
#include <QString>

// How bytes from the wire become text, the same for TCP, UDP and the serial line.
namespace text {

// UTF-8 up to (not including) the first NUL byte; invalid sequences become replacement characters.
QString utf8UpToNul(const QByteArray &bytes);

// True when the text begins with "op " in any letter case: a projector command or reply.
bool startsWithOp(const QString &text);

} // namespace text
