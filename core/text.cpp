#include "core/text.h"

namespace text {

QString utf8UpToNul(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(bytes.constData(), nul < 0 ? bytes.size() : nul);
}

bool startsWithOp(const QString &text)
{
    return text.startsWith(QLatin1String("op "), Qt::CaseInsensitive);
}

} // namespace text
