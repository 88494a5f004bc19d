// How a text stored in the INI file becomes a serial parameter or the local echo flag.
#include "fuzz/check.h"

#include "core/inivalue.h"

#include <QVariant>

#include <climits>

// A plain decimal number that fits an int, or nothing.
static bool plainDecimal(const QString &s, int *out)
{
    int i = s.startsWith(QLatin1Char('-')) ? 1 : 0;
    if (i == s.size() || s.size() > 12)
        return false;
    long long n = 0;
    for (int j = i; j < s.size(); ++j) {
        if (s[j] < QLatin1Char('0') || s[j] > QLatin1Char('9'))
            return false;
        n = n * 10 + (s[j].unicode() - '0');
    }
    n = i ? -n : n;
    if (n < INT_MIN || n > INT_MAX)
        return false;
    *out = int(n);
    return true;
}

static void checkValue(const QString &stored, const QVector<inivalue::Row> &table)
{
    const int value = inivalue::value(stored, table);
    for (const inivalue::Row &row : table) {
        if (stored == row.text) {
            FUZZ_CHECK(value == row.value);
            return;
        }
    }
    int number = 0;
    if (plainDecimal(stored, &number))
        FUZZ_CHECK(value == number);
    // Whatever else it reads, it reads the same as Qt's own number parsing: no locale, no guessing.
    bool ok = false;
    const int parsed = stored.toInt(&ok);
    FUZZ_CHECK(value == (ok ? parsed : 0));
    // A text with a letter in it is never a number.
    for (QChar c : stored) {
        if (c.isLetter())
            FUZZ_CHECK(value == 0);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString stored = QString::fromUtf8(fuzz::bytes(data, size));
    checkValue(stored, inivalue::baudRates());
    checkValue(stored, inivalue::dataBits());
    checkValue(stored, inivalue::parities());
    checkValue(stored, inivalue::stopBits());
    checkValue(stored, inivalue::flowControls());

    // The local echo flag reads as the settings class itself reads a boolean text.
    // (Beyond ASCII the two may differ on U+017F, which folds to "s" but does not lower to it.)
    const bool flag = inivalue::boolean(stored);
    bool ascii = true;
    for (QChar c : stored)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        FUZZ_CHECK(flag == QVariant(stored).toBool());
    if (stored.isEmpty() || stored == QLatin1String("0") || stored.toLower() == QLatin1String("false"))
        FUZZ_CHECK(!flag);
    else if (stored.size() != 5)
        FUZZ_CHECK(flag);
    return 0;
}
