#include "tests/support/bridgerig.h"
#include "core/logpane.h"
#include "core/netinfo.h"
#include "core/product.h"
#include "core/trace.h"
#include "core/version.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QSysInfo>
#include <QTextBlock>

static QStringList traces;
static void collect(QtMsgType, const QMessageLogContext &, const QString &text) { traces.append(text); }

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<rig::Bridge> bridge; // no port: the window stays as start-up left it
    MainWindow *window = nullptr;

    template <typename T = QWidget>
    T *child(const char *name) { return window->findChild<T *>(QLatin1String(name)); }
    QPlainTextEdit *pane(bool serial) { return child<QPlainTextEdit>(serial ? "plainTextEditSerial" : "plainTextEditTCP"); }

private slots:
    void init()
    {
        rig::noPorts();
        bridge = std::make_unique<rig::Bridge>();
        bridge->boxes.clear();
        window = bridge->window.get();
    }
    void cleanup()
    {
        bridge.reset(); // also deletes the settings dialog, which has no parent
        qInstallMessageHandler(nullptr);
    }

    void titleNamesVersionUdpPortAndFirstAddress()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("%1-%2 UDPRX@%3/IP@")
                                            .arg(QLatin1String(product::appName), QLatin1String(version::number))
                                            .arg(product::udpRxPort)
                                            + window->getLocalNetInfo(netinfo::Ipv4Addresses).first());
    }

    void paneEntry_data()
    {
        QTest::addColumn<bool>("serialSide");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // what the user reads
        QTest::addColumn<QColor>("colour");

        const QColor blue(QStringLiteral("darkblue"));
        QTest::newRow("from the TCP client") << false << fontDarkBlue << "TCP>" << "op status ?"
            << "TCP>op status ?" << blue;
        QTest::newRow("written to the serial line") << true << fontRed << "&gt;&gt;&gt;" << "op status ?\r\n"
            << ">>>op status ? " << QColor(Qt::red);
        QTest::newRow("read from the projector") << false << fontDarkBlue << "&lt;&lt;&lt;" << "OP STATUS = 1\n"
            << "<<<OP STATUS = 1 " << blue;
        QTest::newRow("datagram record, bold") << false << fontDeepPink << "<b>UDP>" << "udp=1;time=2;?ZZ?</b>"
            << "UDP>udp=1;time=2;?ZZ?" << QColor(QStringLiteral("deeppink"));
        QTest::newRow("markup in the text is not escaped") << true << fontDarkBlue << "&gt;" << "a &amp; <i>b</i>"
            << ">a & b" << blue;
    }

    void paneEntry()
    {
        QFETCH(bool, serialSide);
        QFETCH(QString, tag);
        QFETCH(QString, prefix);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QColor, colour);

        const QString before = pane(serialSide)->toPlainText();
        if (serialSide)
            window->logSerialPane(tag, prefix, text);
        else
            window->logTcpPane(tag, prefix, text);

        // One new paragraph; an empty pane takes the entry in its first one.
        QCOMPARE(pane(serialSide)->toPlainText(), before.isEmpty() ? shown : before + QLatin1Char('\n') + shown);
        const QTextBlock last = pane(serialSide)->document()->lastBlock();
        for (QTextBlock::iterator it = last.begin(); !it.atEnd(); ++it) {
            QCOMPARE(it.fragment().charFormat().foreground().color(), colour);
            QCOMPARE(it.fragment().charFormat().fontWeight() == QFont::Bold, prefix.startsWith(QLatin1String("<b>")));
        }
        QVERIFY(pane(serialSide)->textCursor().atEnd());
    }

    void clearButtonsEmptyTheirOwnPaneOnly()
    {
        window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), QStringLiteral("op tcp"));
        window->logSerialPlain(QStringLiteral("TimeOut!!!"));
        QCOMPARE(pane(true)->toPlainText(), QStringLiteral("Wait serial connection...\nTimeOut!!!"));

        QTest::mouseClick(child<QPushButton>("pushButtonClearSerial"), Qt::LeftButton);
        QCOMPARE(pane(true)->toPlainText(), QString());
        QCOMPARE(pane(false)->toPlainText(), QStringLiteral("TCP>op tcp"));
        QTest::mouseClick(child<QPushButton>("pushButtonClearTCP"), Qt::LeftButton);
        QCOMPARE(pane(false)->toPlainText(), QString());
    }

    // Markup from the network must never make the program fetch anything.
    void panesLoadNoResources()
    {
        window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"),
                           QStringLiteral("<img src=\":/images/clear.png\"><img src=\"file:///etc/hostname\">"));
        for (const char *url : {":/images/clear.png", "file:///etc/hostname"})
            QVERIFY2(pane(false)->document()->resource(QTextDocument::ImageResource, QUrl(QLatin1String(url))).isNull(), url);
    }

    void aboutBoxReadsThePortLabelEachTime()
    {
        QFile file(QStringLiteral(":/html/About_en_US.html"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString page = QString::fromUtf8(file.readAll());

        for (const QString &port : {QStringLiteral("Serial Port"), QStringLiteral("ttyV0:9600,8,None,1")}) {
            child<QLabel>("labelSerialPort")->setText(port);
            child<QAction>("actionAbout")->trigger();
            QCOMPARE(bridge->boxes.last().title, QStringLiteral("Tolvane ReleaseBuild-" __DATE__));
            QCOMPARE(bridge->boxes.last().text, page + "<br>OS: " + QSysInfo::prettyProductName() + "<br>IP: "
                                             + window->getLocalNetInfo(netinfo::Ipv4Addresses).first() + "<br>Port: " + port);
            QCOMPARE(bridge->boxes.last().parent, window);
        }
        QCOMPARE(bridge->boxes.count(), 2);
    }

    void tracesNameTheRelativeSourcePath()
    {
        qInstallMessageHandler(collect);
        const int line = __LINE__ + 1;
        TRACE << "About Not Found:" << QStringLiteral(":/x") << 7;
        QCOMPARE(traces, QStringList(QStringLiteral("tests/tst_mainwindow.cpp/%1(tracesNameTheRelativeSourcePath): "
                                                    "About Not Found: \":/x\" 7").arg(line)));
    }
};

TOLVANE_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
