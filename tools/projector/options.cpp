#include "tools/projector/options.h"

#include "core/cmdline.h"
#include "core/text.h"

std::optional<int> parseOptions(const std::vector<std::string> &args, Options *options)
{
    cmdline::Command command(
        QStringLiteral("virtual-projector"), QStringLiteral("[OPTIONS]"),
        QStringLiteral("Opens a pseudo-terminal, prints its device path on the first line and behaves as a projector\n"
                       "on it until SIGTERM/SIGINT: echoes each command line (ended by CR, CR LF or LF) and answers\n"
                       "\"op KEY ?\" with \"OP KEY=VALUE\" and \"op KEY = VALUE\" by storing and repeating it.\n"
                       "SIGUSR1 unplugs it (closes the terminal) or, when unplugged, plugs it back in on a new\n"
                       "terminal; SIGUSR2 plugs it back in. Each plug-in after the first prints \"PLUG PATH\", each\n"
                       "unplug \"UNPLUG\"."));
    command.addValue(QStringLiteral("delay"), QStringLiteral("ms"),
                     QStringLiteral("wait MS milliseconds between a command and its reply (default 2)"));
    command.addFlag(QStringLiteral("no-echo"), QStringLiteral("do not echo command lines"));
    command.addFlag(QStringLiteral("silent"), QStringLiteral("echo only, never reply"));
    command.addFlag(QStringLiteral("one-chunk"),
                    QStringLiteral("write echo and reply in a single write, after the delay"));
    command.addFlag(QStringLiteral("noise"), QStringLiteral("send \"# lamp ok\" and an empty line before each reply"));
    command.addValue(QStringLiteral("set"), QStringLiteral("key=value"),
                     QStringLiteral("add or change a table value; VALUE may use \\r \\n \\t \\\\ \\0 \\xHH (defaults: "
                                    "model=KT5520M ser.no=ABC-1234567 status=1 power=1 input=HDMI1 lamp=1200)"));
    command.addValue(QStringLiteral("baud"), QStringLiteral("n"),
                     QStringLiteral("pace output one byte at a time, 10/N seconds apart (0: no pacing)"));
    command.addValue(QStringLiteral("unplug-after"), QStringLiteral("n"),
                     QStringLiteral("close the terminal after answering the N-th command, then exit"));
    command.addValue(QStringLiteral("unplug-grace"), QStringLiteral("ms"),
                     QStringLiteral("time left to read the last reply before closing (default 200)"));
    command.addValue(QStringLiteral("replug-every"), QStringLiteral("ms"),
                     QStringLiteral("unplug MS milliseconds after each plug-in, then plug back in after "
                                    "--unplugged-for"));
    command.addValue(QStringLiteral("unplugged-for"), QStringLiteral("ms"),
                     QStringLiteral("stay unplugged MS milliseconds, then plug back in (default: until a signal after "
                                    "a signal, 1000 after the timer)"));
    command.addValue(QStringLiteral("link"), QStringLiteral("path"),
                     QStringLiteral("keep a symbolic link at PATH to the current terminal, as /dev/serial/by-id does; "
                                    "gone while unplugged and on exit"));
    command.addValue(QStringLiteral("log"), QStringLiteral("file"),
                     QStringLiteral("append timestamped events (CLOCK_MONOTONIC microseconds): RX, CMD, ECHO, NOISE, "
                                    "REPLY, TERMIOS, DROP, UNPLUG, PLUG"));
    command.addFlag(QStringLiteral("termios"),
                    QStringLiteral("also print the TERMIOS lines (line settings) on standard output"));

    QStringList list;
    for (const std::string &arg : args)
        list.append(QString::fromStdString(arg));
    if (const auto done = command.parseOrExit(list))
        return done;

    qint64 delay = options->delayMs, baud = options->baud, unplug = options->unplugAfter,
           grace = options->unplugGraceMs, every = options->replugEveryMs, unplugged = options->unpluggedForMs;
    if (!command.number(QStringLiteral("delay"), 0, 3600000, &delay)
        || !command.number(QStringLiteral("baud"), 0, 4000000, &baud)
        || !command.number(QStringLiteral("unplug-after"), 1, 1000000000, &unplug)
        || !command.number(QStringLiteral("unplug-grace"), 0, 600000, &grace)
        || !command.number(QStringLiteral("replug-every"), 1, 86400000, &every)
        || !command.number(QStringLiteral("unplugged-for"), 0, 86400000, &unplugged))
        return command.bad(command.error());
    options->delayMs = long(delay);
    options->baud = long(baud);
    options->unplugAfter = long(unplug);
    options->unplugGraceMs = long(grace);
    options->replugEveryMs = long(every);
    options->unpluggedForMs = long(unplugged);
    options->linkPath = command.value(QStringLiteral("link")).toStdString();
    for (const QString &entry : command.values(QStringLiteral("set"))) {
        const int eq = entry.indexOf(QLatin1Char('='));
        QByteArray value;
        if (eq <= 0 || !text::unescapeBytes(entry.mid(eq + 1), &value))
            return command.bad(
                QStringLiteral("--set wants KEY=VALUE with the escapes \\r \\n \\t \\\\ \\0 \\xHH, not '%1'")
                    .arg(entry));
        options->overrides.emplace_back(entry.left(eq).toStdString(), value.toStdString());
    }
    options->echo = !command.isSet(QStringLiteral("no-echo"));
    options->silent = command.isSet(QStringLiteral("silent"));
    options->oneChunk = command.isSet(QStringLiteral("one-chunk"));
    options->noise = command.isSet(QStringLiteral("noise"));
    options->termiosToStdout = command.isSet(QStringLiteral("termios"));
    options->logPath = command.value(QStringLiteral("log")).toStdString();
    return std::nullopt;
}
