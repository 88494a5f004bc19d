#pragma once

#include <QString>

namespace serialreply {

enum class Kind {
    Echo,  // the projector repeating the last command: dropped
    Reply, // an "op " line for the TCP client
    Other  // anything else: only shown
};

// Classifies the text of one line from the projector against the last command written.
Kind classify(const QString &lineText, const QString &lastCommand);

} // namespace serialreply
