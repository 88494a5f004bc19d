// What the reader does with the projector's lines: drop the echo, forward replies, show the rest.
// Input: "<command written>\n<bytes from the projector>"; without a "\n" nothing was written yet.
#include "fuzz/check.h"

#include "core/serialreply.h"
#include "core/text.h"

using serialreply::Kind;

// The projector's own form of an "op " line, judged on the bytes.
static bool beginsWithOp(const QByteArray &line)
{
    return line.size() >= 3 && (line[0] == 'o' || line[0] == 'O') && (line[1] == 'p' || line[1] == 'P')
        && line[2] == ' ';
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    const int split = input.indexOf('\n');
    const QByteArray written = split < 0 ? QByteArray() : input.left(split);
    const QByteArray fromDevice = split < 0 ? input : input.mid(split + 1);

    // As the writer remembers it; empty before the first write.
    const QString lastCommand = split < 0 ? QString() : text::utf8UpToNul(written).simplified();

    // The reader takes one complete line at a time; a tail without LF never becomes a line.
    QByteArray seen, forwarded;
    int from = 0;
    for (int lf; (lf = fromDevice.indexOf('\n', from)) >= 0; from = lf + 1) {
        const QByteArray line = fromDevice.mid(from, lf - from + 1);
        const QString text = text::utf8UpToNul(line);
        const Kind kind = serialreply::classify(text, lastCommand);

        FUZZ_CHECK((kind == Kind::Other) == !beginsWithOp(line));
        if (kind == Kind::Echo)
            FUZZ_CHECK(text.contains(lastCommand));
        if (kind == Kind::Reply) {
            FUZZ_CHECK(!lastCommand.isEmpty() && !text.contains(lastCommand));
            forwarded += line;
        }
        if (fuzz::isCleanUtf8(line))
            FUZZ_CHECK(text.toUtf8() == line);
        seen += line;
    }
    // Lines are cut only at LF, and a reply travels exactly as it came.
    FUZZ_CHECK(seen + fromDevice.mid(from) == fromDevice);
    FUZZ_CHECK(forwarded.isEmpty() || forwarded.endsWith('\n'));

    // A command from the TCP road ("op ..." simplified, CR LF added) is recognised in its own echo,
    // whatever the projector puts around it.
    const QString command = text::utf8UpToNul(written).simplified();
    if (text::startsWithOp(command)) {
        const QByteArray bytes = command.toUtf8() + "\r\n";
        const QString remembered = text::utf8UpToNul(bytes).simplified();
        FUZZ_CHECK(remembered == command);
        FUZZ_CHECK(serialreply::classify(text::utf8UpToNul(bytes + "\n"), remembered) == Kind::Echo);
        const QByteArray decorated = "op " + fromDevice.left(8).replace('\0', ' ') + bytes + "\n";
        FUZZ_CHECK(serialreply::classify(text::utf8UpToNul(decorated), remembered) == Kind::Echo);
    }
    return 0;
}
