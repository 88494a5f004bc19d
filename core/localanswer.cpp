#include "core/localanswer.h"

namespace localanswer {

QByteArray answer(const QString &terminatedText)
{
    if (terminatedText.contains(QLatin1String("op model ?")))
        return QByteArrayLiteral("OP MODEL=KT5520M");
    if (terminatedText.contains(QLatin1String("op ser.no ?")))
        return QByteArrayLiteral("OP SER.NO=ABC-1234567");
    return (terminatedText.simplified().remove(QLatin1Char('?')) + QStringLiteral("=NA")).toUtf8();
}

} // namespace localanswer
