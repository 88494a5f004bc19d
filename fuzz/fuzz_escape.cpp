// The escaped form the tools print bytes in and read them back from (\\ \0 \t \r \n \xHH).
#include "fuzz/check.h"

#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);

    // Any bytes: printed as printable ASCII only, and read back exactly.
    const QString escaped = text::escapeBytes(input);
    for (const QChar c : escaped)
        FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() < 0x7f);
    QByteArray back;
    FUZZ_CHECK(text::unescapeBytes(escaped, &back));
    FUZZ_CHECK(back == input);

    // Any text typed by a user: either refused, leaving the output alone, or read into bytes whose
    // escaped form reads back to the same bytes.
    const QString typed = QString::fromUtf8(input);
    QByteArray bytes("untouched");
    if (text::unescapeBytes(typed, &bytes)) {
        QByteArray again;
        FUZZ_CHECK(text::unescapeBytes(text::escapeBytes(bytes), &again));
        FUZZ_CHECK(again == bytes);
        // Without a backslash nothing changes but the encoding.
        if (!typed.contains(QLatin1Char('\\')))
            FUZZ_CHECK(bytes == typed.toUtf8());
    } else {
        FUZZ_CHECK(bytes == QByteArray("untouched"));
        FUZZ_CHECK(typed.contains(QLatin1Char('\\')));
    }
    return 0;
}
