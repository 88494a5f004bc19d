#include "core/text.h"

namespace text {

QString utf8UpToNul(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(bytes.constData(), nul < 0 ? bytes.size() : nul);
}

bool startsWithOp(const QString &text) { return text.startsWith(QLatin1String("op "), Qt::CaseInsensitive); }

QString escapeBytes(const QByteArray &bytes)
{
    static const char hex[] = "0123456789abcdef";
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        switch (b) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\0': out += QLatin1String("\\0"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\n': out += QLatin1String("\\n"); break;
        default:
            if (b >= 0x20 && b < 0x7f) {
                out += QLatin1Char(c);
            } else {
                out += QLatin1String("\\x");
                out += QLatin1Char(hex[b >> 4]);
                out += QLatin1Char(hex[b & 0xf]);
            }
        }
    }
    return out;
}

static int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool unescapeBytes(const QString &text, QByteArray *out)
{
    const QByteArray in = text.toUtf8();
    QByteArray result;
    for (int i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            result += in[i];
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in[i]) {
        case '\\': result += '\\'; break;
        case '0': result += '\0'; break;
        case 't': result += '\t'; break;
        case 'r': result += '\r'; break;
        case 'n': result += '\n'; break;
        case 'x': {
            const int high = i + 1 < in.size() ? hexValue(in[i + 1]) : -1;
            const int low = i + 2 < in.size() ? hexValue(in[i + 2]) : -1;
            if (high < 0 || low < 0)
                return false;
            result += char(high * 16 + low);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    *out = result;
    return true;
}

} // namespace text
