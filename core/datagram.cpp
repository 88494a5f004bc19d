#include "core/datagram.h"

#include "core/text.h"

#include <QCoreApplication>

namespace datagram {

QString record(const QString &sender, const QTime &time, const QByteArray &payload)
{
    return QCoreApplication::translate("MyUdpRX", "udp=%1;time=%2;%3")
        .arg(sender)
        .arg(time.toString(QStringLiteral("hh:mm:ss.zzz")))
        .arg(text::utf8UpToNul(payload));
}

} // namespace datagram
