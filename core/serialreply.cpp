#include "core/serialreply.h"

#include "core/text.h"

namespace serialreply {

Kind classify(const QString &lineText, const QString &lastCommand)
{
    if (!text::startsWithOp(lineText))
        return Kind::Other;
    // An empty last command occurs in every text, so before the first write every "op " line is an echo.
    return lineText.contains(lastCommand, Qt::CaseSensitive) ? Kind::Echo : Kind::Reply;
}

} // namespace serialreply
