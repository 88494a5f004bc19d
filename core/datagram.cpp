#include "core/datagram.h"

#include "core/text.h"

#include <QCoreApplication>

namespace datagram {

// One substitution pass: markers inside the sender (an IPv6 scope such as "%2") or the payload
// are never taken for the record's own.
QString record(const QString &sender, const QTime &time, const QByteArray &payload)
{
    return QCoreApplication::translate("MyUdpRX", "udp=%1;time=%2;%3")
        .arg(sender, time.toString(QStringLiteral("hh:mm:ss.zzz")), text::utf8UpToNul(payload));
}

} // namespace datagram
