// How bytes from the TCP client become command texts (tcpread::readPending, as the server calls it):
// reads of at most 1023 bytes, each decoded up to its first NUL and simplified. The arrival pattern
// comes from the input's first byte.
#include "fuzz/check.h"

#include "core/tcpread.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int arrival = 1 + data[0] * 17; // 1 to 4336 bytes per network delivery
    const QByteArray stream = fuzz::bytes(data + 1, size - 1);

    QByteArray socket; // what the socket holds, unread
    QByteArray chunk;  // what the current round read
    QByteArray readBack;
    const tcpread::Source source{[&] { return qint64(socket.size()); },
                                 [&](char *buffer, qint64 wanted) {
                                     FUZZ_CHECK(wanted > 0 && wanted <= tcpread::maxRead && wanted <= socket.size());
                                     // The rest of the buffer must be zero, so the text always ends.
                                     for (int i = 0; i <= tcpread::maxRead; ++i)
                                         FUZZ_CHECK(buffer[i] == 0);
                                     std::memcpy(buffer, socket.constData(), size_t(wanted));
                                     chunk = socket.left(int(wanted));
                                     socket.remove(0, int(wanted));
                                     return wanted;
                                 }};
    const tcpread::Deliver check = [&](const QString &text, const QString &emitted) {
        readBack += chunk;
        const int nul = chunk.indexOf('\0');
        const QByteArray beforeNul = nul < 0 ? chunk : chunk.left(nul);
        chunk.clear();
        FUZZ_CHECK(!text.contains(QChar(0)));
        FUZZ_CHECK(emitted.size() <= text.size() && text.size() <= beforeNul.size());
        FUZZ_CHECK(fuzz::isSimplified(emitted));
        // Nothing visible before the NUL is lost, nothing is invented.
        FUZZ_CHECK(fuzz::asciiInk(emitted.toUtf8()) == fuzz::asciiInk(beforeNul));
        if (fuzz::isCleanUtf8(beforeNul))
            FUZZ_CHECK(text.toUtf8() == beforeNul);
        // A command that came whole in this read is the command, its line end gone.
        const QByteArray line = beforeNul.left(beforeNul.size() - 2);
        if (beforeNul.endsWith("\r\n") && fuzz::isCleanUtf8(line) && !line.contains('\n') && !line.contains('\r')
            && fuzz::isSimplified(QString::fromUtf8(line)))
            FUZZ_CHECK(emitted == QString::fromUtf8(line));
    };

    int delivered = 0;
    while (delivered < stream.size()) {
        socket += stream.mid(delivered, arrival);
        delivered = qMin(stream.size(), delivered + arrival);
        tcpread::readPending(source, check); // one notification
        FUZZ_CHECK(socket.isEmpty());
    }
    FUZZ_CHECK(readBack == stream);
    return 0;
}
