#pragma once

#include <QString>

// What became of the commands the probe sends, as every sub-command reports it. The names are the
// JSON's words; tables and text lines show them in capitals.

// One command sent to a bridge.
enum class Outcome {
    Answered,     // a whole reply came
    Timeout,      // not a byte within the time
    Closed,       // the connection ended before a byte came
    NoConnection, // send: the connection failed
    NotSent,      // watch: no connection to send it on this turn
    NotAsked      // survey: no connection left to ask it on
};

// Survey's TCP column: how the connection to a bridge went.
enum class Connection { NotTried, Accepted, Refused, Timeout, Failed };

// Survey's verdict on a bridge.
enum class Verdict {
    Ok,       // every query answered by the projector
    NoAnswer, // some query got no reply
    Refused,  // answers discovery but refuses TCP
    Local     // every answer is the bridge's own: it has no serial port
};

// "answered", "timeout", "closed", "no connection", "not sent", "not asked"
QString nameOf(Outcome outcome);
// "-", "accepted", "refused", "timeout", "failed"
QString nameOf(Connection connection);
// "OK", "NO ANSWER", "REFUSED", "LOCAL"
QString nameOf(Verdict verdict);
