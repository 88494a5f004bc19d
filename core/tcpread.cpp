#include "core/tcpread.h"

#include "core/text.h"

#include <QByteArray>

#include <cstring>

namespace tcpread {

void readPending(const Source &source, const Deliver &deliver)
{
    do {
        char buffer[maxRead + 1];
        std::memset(buffer, 0, sizeof buffer);
        const qint64 wanted = qMin<qint64>(source.pending(), maxRead);
        // A closed client has nothing to read; reading it anyway would only make Qt complain.
        const qint64 got = wanted > 0 ? source.read(buffer, wanted) : 0;
        const QString text = text::utf8UpToNul(QByteArray(buffer, int(qMax<qint64>(got, 0))));
        deliver(text, text.simplified());
        // deliver may have run the event loop: what is pending is asked again.
    } while (source.pending() > 0);
}

} // namespace tcpread
