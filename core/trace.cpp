#include "core/trace.h"

namespace trace {

QDebug at(const char *file, int line, const char *function)
{
    QDebug d = qDebug();
    d.noquote().nospace() << file << '/' << line << '(' << function << "):";
    d.space().quote();
    return d;
}

} // namespace trace
