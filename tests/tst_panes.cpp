// The traffic panes as the user reads them: every entry once, in order, in its colour, whatever the
// traffic does meanwhile. Entries are shown a moment after they are written, so every check waits.
#include "tests/support/bridgerig.h"
#include "tests/support/importworker.h"
#include "tests/support/nestedmarkup.h"
#include "tests/support/ptydevice.h"

#include "app/panedocument.h"
#include "core/logpane.h"
#include "core/product.h"
#include "net/mytcpserver.h"
#include "net/myudprx.h"

#include <QAction>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

namespace {

// One paragraph of a pane: its text and how every piece of it is drawn.
struct Line {
    QString text;
    QString colour; // the colour's name, "" when the text has none of its own
    bool bold = false;
    bool operator==(const Line &o) const { return text == o.text && colour == o.colour && bold == o.bold; }
};

QList<Line> linesOf(QPlainTextEdit *pane)
{
    QList<Line> lines;
    for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next()) {
        Line line{block.text().trimmed(), QString(), false};
        bool first = true;
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            const QString colour =
                format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color().name() : QString();
            const bool bold = format.fontWeight() == QFont::Bold;
            if (first) {
                line.colour = colour;
                line.bold = bold;
                first = false;
            } else if (colour != line.colour || bold != line.bold) {
                line.colour = QStringLiteral("mixed");
            }
        }
        lines << line;
    }
    if (lines.size() == 1 && lines.first().text.isEmpty())
        lines.clear(); // an empty document still has one empty paragraph
    return lines;
}

using testenv::patience;

// Calls back for every child an object gets.
class ChildWatch : public QObject
{
public:
    explicit ChildWatch(std::function<void(QObject *)> added)
        : added(std::move(added))
    { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded)
            added(static_cast<QChildEvent *>(event)->child());
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(QObject *)> added;
};

const QString blue = QColor(QStringLiteral("darkblue")).name();
const QString red = QColor(QStringLiteral("red")).name();
const QString pink = QColor(QStringLiteral("deeppink")).name();

Line inBlue(const QString &text) { return Line{text, blue, false}; }

// How QCOMPARE shows a line that differs.
char *toString(const Line &line)
{
    return QTest::toString(
        QStringLiteral("%1 [%2%3]").arg(line.text, line.colour, line.bold ? QStringLiteral(", bold") : QString()));
}

} // namespace

class TestPanes : public QObject
{
    Q_OBJECT

    std::unique_ptr<PtyDevice> device;
    std::unique_ptr<rig::Bridge> bridge;

    QPlainTextEdit *pane(const char *name) const
    {
        return bridge->window->findChild<QPlainTextEdit *>(QLatin1String(name));
    }
    QPlainTextEdit *tcp() const { return pane("plainTextEditTCP"); }
    QPlainTextEdit *serial() const { return pane("plainTextEditSerial"); }

    // A bridge on the test's pseudo-terminal with a TCP client, the serial pane cleared of its first line.
    bool openWithDevice()
    {
        device = std::make_unique<PtyDevice>();
        rig::usePort(device->slavePath(), device->slavePath());
        bridge = std::make_unique<rig::Bridge>();
        if (!device->isValid() || !bridge->port()->isOpen() || !bridge->connectClient())
            return false;
        bridge->window->findChild<QPushButton *>(QStringLiteral("pushButtonClearSerial"))->click();
        return true;
    }
    void openWithoutPort()
    {
        rig::noPorts();
        bridge = std::make_unique<rig::Bridge>();
        bridge->boxes.clear();
    }
    // The device answers as a projector: the echo, then the reply, each as the port's own notification.
    bool answer(const QByteArray &command, const QByteArray &reply)
    {
        if (!rig::waitFor([&] { return device->received().endsWith(command + "\r\n"); }, patience))
            return false;
        QSignalSpy readyRead(bridge->port(), SIGNAL(readyRead()));
        if (!device->send(command + "\r\n") || !rig::waitFor([&] { return readyRead.count() > 0; }, patience))
            return false;
        return device->send(reply);
    }
    // A command from the client, answered by the device; adds the reply to what the client expects.
    bool command(const QByteArray &text, const QByteArray &reply, QByteArray *expected)
    {
        bridge->send(text);
        *expected += reply;
        return answer(text, reply);
    }
    static void sendDatagram(const QByteArray &payload)
    {
        QUdpSocket socket;
        socket.writeDatagram(payload, QHostAddress::LocalHost, product::udpRxPort);
    }

private slots:
    void cleanup()
    {
        bridge.reset();
        device.reset();
    }

    // Each command's whole road through both panes. The client sends each command as soon as the last
    // reply is in: the panes must keep up without losing, doubling, recolouring or reordering a line.
    void commandsBackToBackKeepTheirOrder()
    {
        QVERIFY(openWithDevice());
        QList<Line> tcpLines, serialLines;
        const int commands = 40;
        for (int i = 0; i < commands; ++i) {
            const QByteArray command = "op input" + QByteArray::number(i) + " ?";
            const QByteArray reply = "OP INPUT" + QByteArray::number(i) + "=" + QByteArray::number(i * 7) + "\r\n";
            bridge->fromBridge.clear();
            bridge->send(command);
            QVERIFY(answer(command, reply));
            QTRY_COMPARE_WITH_TIMEOUT(bridge->fromBridge, reply, patience);
            tcpLines << inBlue("TCP>" + command) << inBlue("<<<" + reply.trimmed());
            serialLines << inBlue(">" + command) << Line{">>>" + command, red, false}
                        << inBlue("<<<" + reply.trimmed());
        }
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(tcp()), tcpLines, patience);
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(serial()), serialLines, patience);
        QVERIFY(tcp()->textCursor().atEnd());
        QVERIFY(serial()->textCursor().atEnd());
    }

    void datagramsAndAProbeInArrivalOrder()
    {
        openWithoutPort();
        for (const QByteArray &payload : {QByteArray("first"), QByteArray("?ZZ?"), QByteArray("<i>third</i>")})
            sendDatagram(payload);
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(tcp()).size(), 4, patience);
        const QList<Line> lines = linesOf(tcp());
        QVERIFY2(lines.at(0).text.startsWith("UDP>udp=") && lines.at(0).text.endsWith(";first"),
                 qPrintable(lines.at(0).text));
        QVERIFY2(lines.at(1).text.endsWith(";?ZZ?"), qPrintable(lines.at(1).text));
        QVERIFY2(lines.at(2).text.startsWith(">>>ip=") && lines.at(2).text.endsWith(";serial=Tolvane-0;"),
                 qPrintable(lines.at(2).text));
        QVERIFY2(lines.at(3).text.endsWith(";third"), qPrintable(lines.at(3).text));
        for (int i : {0, 1, 3}) {
            QCOMPARE(lines.at(i).colour, pink);
            QVERIFY(lines.at(i).bold);
        }
        QCOMPARE(lines.at(2).colour, blue);
        QVERIFY(!lines.at(2).bold);
    }

    // Many entries at once go in over several turns of the event loop, never all in one.
    void aFloodLeavesTheEventLoopServed()
    {
        openWithoutPort();
        const int entries = 300;
        for (int i = 0; i < entries; ++i)
            bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), QString::number(i));
        int shownAtFirstTurn = -1;
        QTimer::singleShot(0, [&] { shownAtFirstTurn = tcp()->document()->blockCount(); });
        QTRY_VERIFY_WITH_TIMEOUT(shownAtFirstTurn >= 0, patience);
        QVERIFY2(shownAtFirstTurn < entries, qPrintable(QString::number(shownAtFirstTurn)));
        QTRY_COMPARE_WITH_TIMEOUT(tcp()->document()->blockCount(), entries, patience);
        QCOMPARE(tcp()->document()->lastBlock().text(), QStringLiteral("TCP>%1").arg(entries - 1));
    }

    // With a line limit (a window left open for months) each pane keeps its newest paragraphs, in
    // order; entries imported on the worker, several paragraphs each, are trimmed the same way.
    void limitedPanesKeepTheirNewestLines()
    {
        openWithoutPort();
        const int limit = 40;
        bridge->window->limitPaneLines(limit);
        bridge->window->show();
        const int entries = 200;
        for (int i = 0; i < entries; ++i) {
            // More paragraphs than the limit, imported on the worker.
            const QString deep = i % 50 == 25 ? QStringLiteral("<pre>").repeated(60) : QString();
            bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), deep + QString::number(i));
            bridge->window->logSerialPlain(QString::number(i));
        }
        const QString last = QString::number(entries - 1);
        QTRY_COMPARE_WITH_TIMEOUT(tcp()->document()->lastBlock().text(), QStringLiteral("TCP>") + last, patience);
        QTRY_COMPARE_WITH_TIMEOUT(serial()->document()->lastBlock().text(), last, patience);
        for (QPlainTextEdit *pane : {tcp(), serial()}) {
            QCOMPARE(pane->document()->blockCount(), limit);
            const QStringList lines = pane->toPlainText().split(QLatin1Char('\n'));
            int previous = -1;
            for (QString line : lines) {
                line.remove(QLatin1String("TCP>"));
                if (line.trimmed().isEmpty())
                    continue; // a deep entry's empty paragraphs
                QVERIFY2(line.toInt() == previous + 1 || previous < 0, qPrintable(line));
                previous = line.toInt();
            }
            QCOMPARE(previous, entries - 1);
        }
        QCOMPARE(linesOf(tcp()).last(), inBlue(QStringLiteral("TCP>") + last));
    }

    void clearDropsTheEntriesStillQueuedForItsPaneOnly()
    {
        openWithoutPort();
        bridge->window->logSerialPane(fontDarkBlue, QStringLiteral("&gt;"), QStringLiteral("before"));
        bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), QStringLiteral("kept"));
        bridge->window->logSerialPlain(QStringLiteral("TimeOut!!!"));
        bridge->window->findChild<QPushButton *>(QStringLiteral("pushButtonClearSerial"))->click();
        QCOMPARE(serial()->toPlainText(), QString()); // the initial text goes too
        bridge->window->logSerialPane(fontRed, QStringLiteral("&gt;&gt;&gt;"), QStringLiteral("after"));

        QTRY_COMPARE_WITH_TIMEOUT(linesOf(tcp()), QList<Line>({inBlue("TCP>kept")}), patience);
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(serial()), QList<Line>({Line{">>>after", red, false}}), patience);

        bridge->window->findChild<QPushButton *>(QStringLiteral("pushButtonClearTCP"))->click();
        QCOMPARE(tcp()->toPlainText(), QString());
        QCOMPARE(linesOf(serial()).size(), 1);
    }

    void closingWithEntriesQueuedIsClean()
    {
        openWithoutPort();
        bridge->window->show();
        for (int i = 0; i < 500; ++i) {
            bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), QString::number(i));
            bridge->window->logSerialPlain(QString::number(i));
        }
        QVERIFY(tcp()->document()->blockCount() < 500);
        bridge->window->close();
        bridge.reset(); // the sanitizer build reports anything left dangling
    }

    // Markup costly to import is imported on a worker thread and inserted later; the pane must end up
    // exactly as if appendHtml had taken it. Each row is appended between normal entries.
    void importedElsewhereEqualsAppendHtml_data()
    {
        QTest::addColumn<QString>("html");
        const QString udp = fontDeepPink + QStringLiteral("<b>UDP>udp=127.0.0.1;time=12:00:00.000;");
        QTest::newRow("command") << logpane::entry(fontDarkBlue, QStringLiteral("TCP>"), QStringLiteral("op status ?"));
        QTest::newRow("written, CR LF") << logpane::entry(fontRed, QStringLiteral("&gt;&gt;&gt;"),
                                                          QStringLiteral("op status ?\r\n"));
        QTest::newRow("reply") << logpane::entry(fontDarkBlue, QStringLiteral("&lt;&lt;&lt;"),
                                                 QStringLiteral("OP STATUS=1\r\n"));
        QTest::newRow("datagram") << udp + QStringLiteral("?ZZ?</b>") + fontEnd;
        // Every shape as deep as the largest entry a pane shows allows.
        const int room = logpane::maxShownChars - udp.size() - 4 - fontEnd.size();
        for (const nestedmarkup::Shape &shape : nestedmarkup::shapes())
            QTest::newRow(qPrintable(QStringLiteral("deep ") + QLatin1String(shape.name))) << udp
                    + QString::fromStdString(nestedmarkup::nested(shape, size_t(room))) + QStringLiteral("</b>")
                    + fontEnd;
        QTest::newRow("unclosed") << udp + QStringLiteral("<i><u><s><p>open").repeated(50) + fontEnd;
        QTest::newRow("lists") << udp + QStringLiteral("<ul><li>a<ol><li>b</ol><li>c</ul>").repeated(40) + fontEnd;
        QTest::newRow("images and links") << udp
                + QStringLiteral("<img src=\"file:///etc/hostname\" width=40><a href=\"http://192.0.2.1/\">l</a>"
                                 "<link rel=stylesheet href=\"file:///etc/x.css\">")
                      .repeated(20)
                + fontEnd;
        QTest::newRow("style sheet") << udp
                + QStringLiteral("<style>p { color: red; font-size: 40pt } b { color: green }</style><p>s<b>t</b></p>")
                      .repeated(20)
                + fontEnd;
        QTest::newRow("entities") << udp + QStringLiteral("&amp;&lt;&gt;&nbsp;&#65;&#x263a;&bogus;&").repeated(60)
                + fontEnd;
        QTest::newRow("NUL and replacement characters") << udp
                + (QStringLiteral("a") + QChar(0) + QChar(0xfffd) + QStringLiteral("<b>b</b>")).repeated(100) + fontEnd;
        QTest::newRow("pre, headings, rules")
            << udp + QStringLiteral("<pre>p  re\n x</pre><h1>h</h1><hr><br>").repeated(30) + fontEnd;
    }
    void importedElsewhereEqualsAppendHtml()
    {
        QFETCH(QString, html);
        QPlainTextEdit direct, imported;
        for (QPlainTextEdit *pane : {&direct, &imported}) {
            pane->setPlainText(QStringLiteral("Wait serial connection..."));
            panedocument::prepare(pane);
            pane->show();
        }
        const QStringList entries = {logpane::entry(fontDarkBlue, QStringLiteral("TCP>"), QStringLiteral("before")),
                                     html,
                                     logpane::entry(fontRed, QStringLiteral("&gt;&gt;&gt;"), QStringLiteral("after"))};
        for (const QString &entry : entries) {
            direct.appendHtml(entry);
            direct.moveCursor(QTextCursor::End);
            panedocument::appendImported(&imported, importLikeTheWorker(entry));
            imported.moveCursor(QTextCursor::End);
        }
        QCOMPARE(imported.document()->blockCount(), direct.document()->blockCount());
        QCOMPARE(imported.document()->toHtml(), direct.document()->toHtml());
        QCOMPARE(imported.textCursor().position(), direct.textCursor().position());
        QVERIFY(imported.textCursor().charFormat() == direct.textCursor().charFormat());
    }

    // A heavy datagram's entry is imported off the GUI thread: the bridge answers meanwhile, and the
    // pane's later entries wait for it.
    void heavyEntryKeepsItsPlaceWhileTheBridgeAnswers()
    {
        openWithoutPort();
        bridge->window->show();
        QVERIFY(bridge->connectClient());
        sendDatagram("first");
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(tcp()).size(), 1, patience);
        // Taken in before the command, so its entry comes first; as deep as a pane shows, slow to import.
        QSignalSpy records(bridge->window->findChild<MyUdpRX *>(), &MyUdpRX::sigSendUDPdata);
        sendDatagram(QByteArray("<pre>").repeated(1600) + "heavy");
        QTRY_COMPARE_WITH_TIMEOUT(records.count(), 1, patience);
        bridge->send("op model ?");
        QTRY_COMPARE_WITH_TIMEOUT(bridge->fromBridge, QByteArray(product::modelAnswer), patience);
        QVERIFY2(!tcp()->toPlainText().contains(QLatin1String("heavy")), "the import held up the answer");
        // The command's entry follows the heavy one once that is in; the nested blocks make several
        // paragraphs of one entry.
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(tcp()).last(), inBlue("TCP>op model ?"), patience);
        const QList<Line> lines = linesOf(tcp());
        QVERIFY(lines.first().text.endsWith(QLatin1String(";first")));
        QVERIFY(lines.at(lines.size() - 2).text.endsWith(QLatin1String("heavy")));
    }

    void clearAndCloseWhileAnImportRuns()
    {
        openWithoutPort();
        bridge->window->show();
        const QString heavy = QStringLiteral("<div>").repeated(12000);
        bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), heavy + QStringLiteral("cleared"));
        bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), heavy + QStringLiteral("cleared too"));
        bridge->window->logSerialPane(fontDarkBlue, QStringLiteral("&gt;"), QStringLiteral("serial"));
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(serial()).size(), 2, patience); // the other pane does not wait for the import
        bridge->window->findChild<QPushButton *>(QStringLiteral("pushButtonClearTCP"))->click();
        bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), QStringLiteral("after the clear"));
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(tcp()), QList<Line>({inBlue("TCP>after the clear")}), patience);

        bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), heavy + QStringLiteral("at the close"));
        bridge->window->close();
        bridge.reset(); // waits for the import under way, and nothing else
    }

    // A modal box opened inside the event pass of a reply or of a probe being answered: the panes go on
    // taking what arrives while it is up, as under any other box.
    void panesGoOnUnderABoxOpenedInAnEventPass_data()
    {
        QTest::addColumn<bool>("probe");
        QTest::newRow("the pass of a reply") << false;
        QTest::newRow("the pass of a probe's answer") << true;
    }
    void panesGoOnUnderABoxOpenedInAnEventPass()
    {
        QFETCH(bool, probe);
        QVERIFY(openWithDevice());
        auto *about = bridge->window->findChild<QAction *>(QStringLiteral("actionAbout"));
        // Asked for just before the pass, which runs it: About opens inside the pass.
        bool asked = false;
        const auto askForAbout = [&] {
            if (!asked)
                QTimer::singleShot(0, about, &QAction::trigger);
            asked = true;
        };
        bool shownUnderTheBox = false;
        bridge->boxes.whileOpen = [&](const BoxCatcher::Box &) {
            bridge->send("op lamp ?");
            shownUnderTheBox =
                rig::waitFor([&] { return tcp()->toPlainText().contains(QLatin1String("TCP>op lamp ?")); });
        };
        if (probe) {
            // The answer's socket, the window's first new child, is made right before the pass.
            ChildWatch watch([&](QObject *) { askForAbout(); });
            bridge->window->installEventFilter(&watch);
            sendDatagram("?ZZ?");
            QTRY_COMPARE_WITH_TIMEOUT(bridge->boxes.count(), 1, patience);
        } else {
            connect(bridge->window.get(), &MainWindow::sigWriteTCPdata, this, askForAbout);
            bridge->send("op power ?");
            QVERIFY(answer("op power ?", "OP POWER=1\r\n"));
            QTRY_COMPARE_WITH_TIMEOUT(bridge->boxes.count(), 1, patience);
        }
        QCOMPARE(bridge->boxes.last().title.left(7), QStringLiteral("Tolvane"));
        QVERIFY(shownUnderTheBox);
    }

    // Hostile markup of every shape, as large as each source delivers it (a line of a megabyte once; the
    // panes see no more of it than of 64 KiB): the bridge stays up and exact,
    // a command right after it is answered, and the panes show it (cut, where it is that large).
    void everyShapeFromEverySource_data()
    {
        QTest::addColumn<QString>("source");
        QTest::newRow("datagram of 65,507 bytes with a probe") << QStringLiteral("datagram");
        QTest::newRow("TCP, 8 KiB read 1,023 bytes at a time") << QStringLiteral("tcp");
        QTest::newRow("serial reply line of 1 MiB, then 64 KiB") << QStringLiteral("serial");
    }
    void everyShapeFromEverySource()
    {
        QFETCH(QString, source);
        QVERIFY(openWithDevice());
        QByteArray expected; // everything the client must have received
        QVERIFY(command("op status ?", "OP STATUS=1\r\n", &expected));
        int probes = 0, done = 0;
        for (const nestedmarkup::Shape &shape : nestedmarkup::shapes()) {
            const QByteArray name(shape.name);
            if (source == QLatin1String("datagram")) {
                sendDatagram(QByteArray::fromStdString(nestedmarkup::nested(shape, 65507, "?ZZ?")));
                ++probes;
                QTRY_COMPARE_WITH_TIMEOUT(tcp()->toPlainText().count(QStringLiteral(";serial=Tolvane-")), probes,
                                          patience);
            } else if (source == QLatin1String("tcp")) {
                const QByteArray markup = QByteArray::fromStdString(nestedmarkup::nested(shape, 8 * 1024));
                QSignalSpy texts(bridge->window->findChild<MyServer *>(), &MyServer::sigSendTCPdata);
                bridge->send(markup);
                // Each read is simplified: its white space does not add up, the rest does.
                const auto solid = [](const QString &text) { return text.size() - text.count(QLatin1Char(' ')); };
                const auto readAll = [&] {
                    int length = 0;
                    for (const QList<QVariant> &text : texts)
                        length += solid(text.first().toString());
                    return length == solid(QString::fromLatin1(markup));
                };
                QVERIFY2(rig::waitFor(readAll), name);
            } else {
                const QByteArray line = "OP "
                    + QByteArray::fromStdString(nestedmarkup::nested(shape, (done == 0 ? 1 << 20 : 1 << 16) - 5))
                    + "\r\n";
                int sent = 0;
                QVERIFY2(rig::waitFor([&] { return (sent += int(device->sendSome(line.mid(sent)))) == line.size(); }),
                         name);
                expected += line;
                // Forwarded whole before the next command, whose echo would otherwise wait behind it.
                QTRY_COMPARE_WITH_TIMEOUT(bridge->fromBridge.size(), expected.size(), patience);
            }
            QVERIFY2(command("op status ?", "OP STATUS=1\r\n", &expected), name);
            QTRY_COMPARE_WITH_TIMEOUT(bridge->fromBridge.size(), expected.size(), patience);
            QVERIFY2(bridge->fromBridge == expected, name);
            // In order: the reply after the markup is shown once the markup is. (A TCP text's entries
            // are short and in both panes; the next command may well come between.)
            QTRY_VERIFY2_WITH_TIMEOUT(source == QLatin1String("tcp")
                                          || linesOf(tcp()).last().text == QLatin1String("<<<OP STATUS=1"),
                                      name, patience);
            // What is longer than a pane shows is cut there: the panes stay small however large it came.
            const int shown = tcp()->document()->characterCount() + serial()->document()->characterCount();
            QVERIFY2(source == QLatin1String("tcp") || shown < ++done * 8 * (logpane::maxShownChars + 100), name);
        }
    }

    // Markup from the network must never make the program fetch anything.
    void panesLoadNoResources()
    {
        openWithoutPort();
        bridge->window->logTcpPane(
            fontDarkBlue, QStringLiteral("TCP>"),
            QStringLiteral("<img src=\":/images/clear.png\"><img src=\"file:///etc/hostname\">x"));
        QTRY_VERIFY_WITH_TIMEOUT(tcp()->toPlainText().endsWith(QLatin1Char('x')), patience);
        for (const char *url : {":/images/clear.png", "file:///etc/hostname"})
            QVERIFY2(tcp()->document()->resource(QTextDocument::ImageResource, QUrl(QLatin1String(url))).isNull(), url);
    }
};

TOLVANE_TEST_MAIN(TestPanes)
#include "tst_panes.moc"
