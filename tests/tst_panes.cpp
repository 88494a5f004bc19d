// The traffic panes as the user reads them: every entry once, in order, in its colour, whatever the
// traffic does meanwhile. Entries are shown a moment after they are written, so every check waits.
#include "tests/support/bridgerig.h"
#include "tests/support/ptydevice.h"

#include "core/logpane.h"
#include "core/product.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTextBlock>
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
            const QString colour = format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color().name() : QString();
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

const QString blue = QColor(QStringLiteral("darkblue")).name();
const QString red = QColor(QStringLiteral("red")).name();
const QString pink = QColor(QStringLiteral("deeppink")).name();

Line inBlue(const QString &text) { return Line{text, blue, false}; }

// How QCOMPARE shows a line that differs.
char *toString(const Line &line)
{
    return QTest::toString(QStringLiteral("%1 [%2%3]").arg(line.text, line.colour, line.bold ? QStringLiteral(", bold") : QString()));
}

} // namespace

class TestPanes : public QObject
{
    Q_OBJECT

    std::unique_ptr<PtyDevice> device;
    std::unique_ptr<rig::Bridge> bridge;

    QPlainTextEdit *pane(const char *name) const { return bridge->window->findChild<QPlainTextEdit *>(QLatin1String(name)); }
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
        if (!rig::waitFor([&] { return device->received().endsWith(command + "\r\n"); }, 3000))
            return false;
        QSignalSpy readyRead(bridge->port(), SIGNAL(readyRead()));
        if (!device->send(command + "\r\n") || !rig::waitFor([&] { return readyRead.count() > 0; }, 3000))
            return false;
        return device->send(reply);
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

    void oneCommandTakesItsWholeRoadThroughBothPanes()
    {
        QVERIFY(openWithDevice());
        bridge->send("op status ?");
        QVERIFY(answer("op status ?", "OP STATUS=1\r\n"));
        QTRY_COMPARE(bridge->fromBridge, QByteArray("OP STATUS=1\r\n"));

        QTRY_COMPARE(linesOf(tcp()), QList<Line>({inBlue("TCP>op status ?"), inBlue("<<<OP STATUS=1")}));
        QTRY_COMPARE(linesOf(serial()), QList<Line>({inBlue(">op status ?"), Line{">>>op status ?", red, false},
                                                     inBlue("<<<OP STATUS=1")}));
        QVERIFY(tcp()->textCursor().atEnd());
        QVERIFY(serial()->textCursor().atEnd());
    }

    // The client sends each command as soon as the last reply is in: the panes must keep up without
    // losing, doubling or reordering a line.
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
            QTRY_COMPARE(bridge->fromBridge, reply);
            tcpLines << inBlue("TCP>" + command) << inBlue("<<<" + reply.trimmed());
            serialLines << inBlue(">" + command) << Line{">>>" + command, red, false} << inBlue("<<<" + reply.trimmed());
        }
        QTRY_COMPARE(linesOf(tcp()), tcpLines);
        QTRY_COMPARE(linesOf(serial()), serialLines);
        QVERIFY(tcp()->textCursor().atEnd());
    }

    void datagramsAndAProbeInArrivalOrder()
    {
        openWithoutPort();
        for (const QByteArray &payload : {QByteArray("first"), QByteArray("?ZZ?"), QByteArray("<i>third</i>")})
            sendDatagram(payload);
        QTRY_COMPARE(linesOf(tcp()).size(), 4);
        const QList<Line> lines = linesOf(tcp());
        QVERIFY2(lines.at(0).text.startsWith("UDP>udp=") && lines.at(0).text.endsWith(";first"), qPrintable(lines.at(0).text));
        QVERIFY2(lines.at(1).text.endsWith(";?ZZ?"), qPrintable(lines.at(1).text));
        QVERIFY2(lines.at(2).text.startsWith(">>>ip=") && lines.at(2).text.endsWith(";serial=Tolvane-0;"), qPrintable(lines.at(2).text));
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
        const int entries = 2000;
        for (int i = 0; i < entries; ++i)
            bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), QString::number(i));
        int shownAtFirstTurn = -1;
        QTimer::singleShot(0, [&] { shownAtFirstTurn = tcp()->document()->blockCount(); });
        QTRY_VERIFY(shownAtFirstTurn >= 0);
        QVERIFY2(shownAtFirstTurn < entries, qPrintable(QString::number(shownAtFirstTurn)));
        QTRY_COMPARE(tcp()->document()->blockCount(), entries);
        QCOMPARE(tcp()->document()->lastBlock().text(), QStringLiteral("TCP>%1").arg(entries - 1));
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

        QTRY_COMPARE(linesOf(tcp()), QList<Line>({inBlue("TCP>kept")}));
        QTRY_COMPARE(linesOf(serial()), QList<Line>({Line{">>>after", red, false}}));

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

    // Markup from the network must never make the program fetch anything.
    void panesLoadNoResources()
    {
        openWithoutPort();
        bridge->window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"),
                                   QStringLiteral("<img src=\":/images/clear.png\"><img src=\"file:///etc/hostname\">x"));
        QTRY_VERIFY(tcp()->toPlainText().endsWith(QLatin1Char('x')));
        for (const char *url : {":/images/clear.png", "file:///etc/hostname"})
            QVERIFY2(tcp()->document()->resource(QTextDocument::ImageResource, QUrl(QLatin1String(url))).isNull(), url);
    }
};

TOLVANE_TEST_MAIN(TestPanes)
#include "tst_panes.moc"
