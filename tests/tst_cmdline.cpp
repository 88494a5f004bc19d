// The tools' command lines: what each mistake is called, and what the parser lets through.
#include "core/cmdline.h"

#include <QtTest>

class TestCmdline : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("result"); // "run: positional|wait|to|raw", "help", "version" or the mistake
        QTest::newRow("options after and before") << QStringList{"--raw", "h", "c", "--wait", "5"} << "run: h,c|5||raw";
        QTest::newRow("-- ends the options") << QStringList{"h", "--", "--raw"} << "run: h,--raw|||";
        QTest::newRow("help wins") << QStringList{"--help", "--wait", "x"} << "help";
        QTest::newRow("version") << QStringList{"--version"} << "version";
        QTest::newRow("unknown long") << QStringList{"h", "c", "--foo"} << "unknown option --foo";
        QTest::newRow("unknown short") << QStringList{"h", "c", "-x"} << "unknown option -x";
        QTest::newRow("unknown before help") << QStringList{"--foo", "--help"} << "unknown option --foo";
        QTest::newRow("no value") << QStringList{"h", "c", "--wait"} << "option --wait needs a value";
        QTest::newRow("flag with a value") << QStringList{"h", "c", "--raw=1"} << "option --raw takes no value";
        QTest::newRow("too few") << QStringList{"h"} << "needs HOST and COMMAND";
        QTest::newRow("too many") << QStringList{"h", "c", "d", "e"} << "unexpected argument 'e'";
    }
    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, result);
        // The kinds of options the tools have: HOST and COMMAND..., a number, a list, a flag.
        cmdline::Command c(QStringLiteral("tool sub"), QStringLiteral("HOST COMMAND"), QStringLiteral("About."));
        c.addValue(QStringLiteral("wait"), QStringLiteral("ms"), QStringLiteral("how long"));
        c.addValue(QStringLiteral("to"), QStringLiteral("address"), QStringLiteral("where"));
        c.addFlag(QStringLiteral("raw"), QStringLiteral("bytes"));
        c.expectArguments(2, 3, QStringLiteral("needs HOST and COMMAND"));
        QString got;
        switch (c.parse(args)) {
        case cmdline::Command::Parsed::Run:
            got = QStringLiteral("run: %1|%2|%3|%4")
                      .arg(c.positional().join(QLatin1Char(',')), c.value(QStringLiteral("wait")),
                           c.values(QStringLiteral("to")).join(QLatin1Char(',')),
                           c.isSet(QStringLiteral("raw")) ? QStringLiteral("raw") : QString());
            break;
        case cmdline::Command::Parsed::Help: got = QStringLiteral("help"); break;
        case cmdline::Command::Parsed::Version: got = QStringLiteral("version"); break;
        case cmdline::Command::Parsed::Bad: got = c.error(); break;
        }
        QCOMPARE(got, result);
    }

    void number_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value"); // -1: refused
        QTest::newRow("least") << "1" << qint64(1);
        QTest::newRow("most") << "65535" << qint64(65535);
        QTest::newRow("leading zeros") << "007" << qint64(7);
        QTest::newRow("below") << "0" << qint64(-1);
        QTest::newRow("above") << "65536" << qint64(-1);
        QTest::newRow("plus sign") << "+5" << qint64(-1);
        QTest::newRow("other digits") << QString::fromUtf8("\u0665") << qint64(-1);
        QTest::newRow("overflow") << "99999999999999999999" << qint64(-1);
        QTest::newRow("empty") << "" << qint64(-1);
    }
    void number()
    {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        cmdline::Command c(QStringLiteral("tool"), QString(), QString());
        c.addValue(QStringLiteral("port"), QStringLiteral("n"), QStringLiteral("port"));
        QCOMPARE(c.parse({QStringLiteral("--port"), text}), cmdline::Command::Parsed::Run);
        qint64 got = 42;
        const bool ok = c.number(QStringLiteral("port"), 1, 65535, &got);
        QCOMPARE(ok ? got : qint64(-1), value);
        if (!ok) {
            QCOMPARE(got, qint64(42));
            QCOMPARE(c.error(), QStringLiteral("--port wants a whole number from 1 to 65535, not '%1'").arg(text));
        }
    }
};

QTEST_APPLESS_MAIN(TestCmdline)
#include "tst_cmdline.moc"
