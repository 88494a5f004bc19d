// The answer a machine without a serial port gives to a command.
#include "fuzz/check.h"

#include "core/localanswer.h"
#include "core/product.h"
#include "core/text.h"

static QString withoutWhiteSpaceAndQuestionMarks(const QString &s)
{
    QString out;
    for (QChar c : s) {
        if (!c.isSpace() && c != QLatin1Char('?'))
            out.append(c);
    }
    return out;
}

static void checkAnswer(const QString &terminated)
{
    const QByteArray answer = localanswer::answer(terminated);
    if (terminated.contains(QLatin1String(product::modelQuery))) {
        FUZZ_CHECK(answer == product::modelAnswer);
        return;
    }
    if (terminated.contains(QLatin1String(product::serialNumberQuery))) {
        FUZZ_CHECK(answer == product::serialNumberAnswer);
        return;
    }
    // The generic answer: the text on one line, its question marks gone, then "=NA", never a terminator.
    FUZZ_CHECK(answer.endsWith("=NA"));
    FUZZ_CHECK(!answer.contains('\r') && !answer.contains('\n'));
    const QString body = QString::fromUtf8(answer.left(answer.size() - 3));
    FUZZ_CHECK(body.toUtf8() + "=NA" == answer);
    FUZZ_CHECK(!body.contains(QLatin1Char('?')));
    for (QChar c : body)
        FUZZ_CHECK(!c.isSpace() || c == QLatin1Char(' '));
    // Nothing but white space and question marks is lost or added.
    FUZZ_CHECK(withoutWhiteSpaceAndQuestionMarks(body) == withoutWhiteSpaceAndQuestionMarks(terminated));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);

    // Any text at all, NULs and line ends included.
    checkAnswer(QString::fromUtf8(input));

    // What really arrives: one chunk from the TCP client, decoded, simplified and given CR LF.
    QString text = text::utf8UpToNul(input).simplified();
    if (!text.endsWith(QLatin1String("\r\n")))
        text += QLatin1String("\r\n");
    checkAnswer(text);
    return 0;
}
