#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>

namespace datagram {

// The record of one received datagram: "udp=<sender>;time=<hh:mm:ss.zzz>;<payload up to NUL>".
// The payload goes in last, so place markers such as "%1" inside it stay as they are.
QString record(const QString &sender, const QTime &time, const QByteArray &payload);

} // namespace datagram
