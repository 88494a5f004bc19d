#include "core/reply.h"

namespace reply {

QByteArray take(QByteArray *received, bool quiet)
{
    const int lf = received->indexOf('\n');
    int end = -1;
    if (lf >= 0 && lf < maxBytes)
        end = lf + 1;
    else if (received->size() >= maxBytes)
        end = maxBytes;
    else if (quiet)
        end = received->size();
    if (end <= 0)
        return QByteArray();
    const QByteArray reply = received->left(end);
    received->remove(0, end);
    return reply;
}

} // namespace reply
