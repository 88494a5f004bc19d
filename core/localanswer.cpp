#include "core/localanswer.h"

#include "core/product.h"

namespace localanswer {

QByteArray answer(const QString &terminatedText)
{
    if (terminatedText.contains(QLatin1String(product::modelQuery)))
        return QByteArray(product::modelAnswer);
    if (terminatedText.contains(QLatin1String(product::serialNumberQuery)))
        return QByteArray(product::serialNumberAnswer);
    return (terminatedText.simplified().remove(QLatin1Char('?')) + QStringLiteral("=NA")).toUtf8();
}

} // namespace localanswer
