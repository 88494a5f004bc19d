// The record of one received datagram, and whether it is a discovery probe.
#include "fuzz/check.h"

#include "core/datagram.h"
#include "core/discovery.h"

#include <QHostAddress>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray payload = fuzz::bytes(data, size);

    // Sender and time vary with the payload; the sender is always an address as the socket reports it.
    const quint32 h = fuzz::hash(payload);
    QHostAddress address;
    if (h & 1) {
        address.setAddress(h);
    } else {
        Q_IPV6ADDR v6;
        for (int i = 0; i < 16; ++i)
            v6[i] = quint8(h >> (i % 4 * 8)) ^ quint8(i * 37);
        address.setAddress(v6);
        if (h & 2)
            address.setScopeId(QStringLiteral("eth0")); // link-local senders carry their interface
    }
    const QString sender = address.toString();
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(h % 86400000u));

    const QString record = datagram::record(sender, time, payload);

    const QString head = QLatin1String("udp=") + sender + QLatin1String(";time=");
    FUZZ_CHECK(record.startsWith(head));
    const QString timeText = record.mid(head.size(), 12);
    FUZZ_CHECK(QTime::fromString(timeText, QStringLiteral("hh:mm:ss.zzz")) == time);
    FUZZ_CHECK(record.mid(head.size() + 12, 1) == QLatin1String(";"));

    // The payload goes in as it is, place markers and all, and stops before the first zero byte.
    const QString text = record.mid(head.size() + 13);
    const int nul = payload.indexOf('\0');
    const QByteArray beforeNul = nul < 0 ? payload : payload.left(nul);
    FUZZ_CHECK(!text.contains(QChar(0)));
    FUZZ_CHECK(text.size() <= beforeNul.size());
    FUZZ_CHECK(fuzz::asciiInk(text.toUtf8()) == fuzz::asciiInk(beforeNul));
    if (fuzz::isCleanUtf8(beforeNul))
        FUZZ_CHECK(text.toUtf8() == beforeNul);

    // A probe is a datagram whose text up to its first zero byte holds "?ZZ?".
    FUZZ_CHECK(discovery::isProbe(record) == beforeNul.contains("?ZZ?"));
    return 0;
}
