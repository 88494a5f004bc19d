// How bytes from the TCP client become command texts: chunks of at most 1023 bytes, each decoded up to
// its first NUL and simplified. The arrival pattern comes from the input's first byte.
#include "fuzz/check.h"

#include "core/text.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int arrival = 1 + data[0] * 17; // 1 to 4336 bytes per network delivery
    const QByteArray stream = fuzz::bytes(data + 1, size - 1);

    QByteArray socket; // what the socket holds, unread
    int delivered = 0;
    QByteArray readBack;
    while (delivered < stream.size()) {
        socket += stream.mid(delivered, arrival);
        delivered = qMin(stream.size(), delivered + arrival);
        // One notification reads everything available, 1023 bytes at a time into a zeroed buffer.
        do {
            char buffer[1024];
            std::memset(buffer, 0, sizeof buffer);
            const int got = qMin(socket.size(), int(sizeof buffer) - 1);
            std::memcpy(buffer, socket.constData(), size_t(got));
            socket.remove(0, got);
            readBack.append(buffer, got);

            const QByteArray chunk(buffer, got);
            const QString text = text::utf8UpToNul(chunk);
            const QString emitted = text.simplified();

            const int nul = chunk.indexOf('\0');
            const QByteArray beforeNul = nul < 0 ? chunk : chunk.left(nul);
            FUZZ_CHECK(!text.contains(QChar(0)));
            FUZZ_CHECK(emitted.size() <= text.size() && text.size() <= beforeNul.size());
            FUZZ_CHECK(fuzz::isSimplified(emitted));
            // Nothing visible before the NUL is lost, nothing is invented.
            FUZZ_CHECK(fuzz::asciiInk(emitted.toUtf8()) == fuzz::asciiInk(beforeNul));
            if (fuzz::isCleanUtf8(beforeNul))
                FUZZ_CHECK(text.toUtf8() == beforeNul);
            // A command that came whole in this chunk is the command, its line end gone.
            const QByteArray line = beforeNul.left(beforeNul.size() - 2);
            if (beforeNul.endsWith("\r\n") && fuzz::isCleanUtf8(line) && !line.contains('\n')
                && !line.contains('\r') && fuzz::isSimplified(QString::fromUtf8(line)))
                FUZZ_CHECK(emitted == QString::fromUtf8(line));
        } while (!socket.isEmpty());
    }
    FUZZ_CHECK(readBack == stream);
    return 0;
}
