// A discovery reply read back into its fields, as the probe reads whatever answers on UDP 35069.
#include "fuzz/check.h"

#include "core/discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);

    // Bytes from anyone: read only in the reply's form, and then the fields spell the text again.
    discovery::Reply r;
    r.counter = -7;
    if (discovery::parseReply(input, &r)) {
        const QString again = QStringLiteral("ip=%1;mac=%2;model=%3;serial=%4;").arg(r.ip, r.mac, r.model, r.serial);
        FUZZ_CHECK(again == QString::fromUtf8(input));
        // The counter is the number that ends the tag, after a "-".
        QString digits = QString::number(r.counter);
        if (digits.startsWith(QLatin1Char('-')))
            digits.remove(0, 1);
        FUZZ_CHECK(r.serial.contains(QLatin1Char('-')) && r.serial.endsWith(digits));
        for (const QString &field : {r.ip, r.mac, r.model, r.serial})
            FUZZ_CHECK(!field.contains(QLatin1Char(';')));
    } else {
        FUZZ_CHECK(r.counter == -7 && r.ip.isEmpty());
    }

    // What a bridge sends reads back as it was built, whatever its address texts hold but ";".
    const int cut = input.indexOf('\0');
    const QString ip = QString::fromUtf8(input.left(cut < 0 ? input.size() / 2 : cut)).remove(QLatin1Char(';'));
    const QString mac = QString::fromUtf8(input.mid(cut < 0 ? input.size() / 2 : cut + 1)).remove(QLatin1Char(';'));
    const int count = int(fuzz::hash(input) & 0x7fffffff);
    discovery::Reply built;
    FUZZ_CHECK(discovery::parseReply(discovery::reply(ip, mac, count), &built));
    FUZZ_CHECK(built.ip == ip && built.mac == mac && built.counter == count);
    return 0;
}
