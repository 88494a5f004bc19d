#pragma once

#include <QByteArray>

// Where a reply from the bridge ends, as a control program sees it on TCP. The projector's replies
// end in LF, but the bridge's own answers (no serial port) have no line end at all, so a pause
// ends a reply too.
namespace reply {

// The pause after which bytes without a line end count as a whole reply.
inline constexpr int defaultQuietMs = 300;

// The longest reply kept; a longer one is cut here and the rest is not part of it.
inline constexpr int maxBytes = 64 * 1024;

// Takes the reply off the front of the bytes received so far: up to and including the first LF; or,
// once `quiet` (no byte for the quiet time, or the connection ended), all of them; never more than
// maxBytes. Empty (and `received` untouched) while the reply is not complete.
QByteArray take(QByteArray *received, bool quiet);

} // namespace reply
