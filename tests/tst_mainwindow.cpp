#include "boxcatcher.h"
#include "core/logpane.h"
#include "core/netinfo.h"
#include "core/trace.h"
#include "mainwindow.h"
#include "testenv.h"

#include <QApplication>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QSysInfo>
#include <QTextBlock>
#include <QToolBar>
#include <QtTest>

#include <memory>

namespace {

struct Message {
    QtMsgType type;
    QString category;
    QString text;
};
QList<Message> messages;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    messages.append({type, QString::fromLatin1(context.category), text});
}

// The first usable address as the window sees it (in the test's network namespace: "???").
QString firstAddress()
{
    return netinfo::localNetInfo(netinfo::systemInterfaces(), netinfo::Ipv4Addresses).first();
}

QString aboutPage()
{
    QFile page(QStringLiteral(":/html/About_en_US.html"));
    if (!page.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(page.readAll());
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<BoxCatcher> boxes;
    std::unique_ptr<MainWindow> window;

    template<typename T>
    T *child(const char *name)
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        if (!w)
            qWarning("no %s", name);
        return w;
    }
    QPlainTextEdit *tcpPane() { return child<QPlainTextEdit>("plainTextEditTCP"); }
    QPlainTextEdit *serialPane() { return child<QPlainTextEdit>("plainTextEditSerial"); }

private slots:
    void init()
    {
        const QByteArray test(QTest::currentTestFunction());
        if (test == "embeddedImages" || test == "tracesNameTheRelativeSourcePath")
            return;
        // Catch the no-port box of start-up before the window can show it.
        boxes = std::make_unique<BoxCatcher>();
        window = std::make_unique<MainWindow>();
        boxes->clear();
    }

    void cleanup()
    {
        window.reset();
        boxes.reset();
        // The settings dialog has no parent and outlives the window by design; tests tidy it up.
        const QList<QWidget *> tops = QApplication::topLevelWidgets();
        for (QWidget *w : tops)
            if (w->inherits("SettingsDialog"))
                delete w;
        qInstallMessageHandler(nullptr);
        messages.clear();
    }

    void titleNamesVersionUdpPortAndFirstAddress()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("Tolvane-0.9.1.0 UDPRX@35070/IP@") + firstAddress());
        QCOMPARE(window->getLocalNetInfo(0), netinfo::localNetInfo(netinfo::systemInterfaces(), 0));
        QCOMPARE(window->getLocalNetInfo(1), netinfo::localNetInfo(netinfo::systemInterfaces(), 1));
    }

    void widgetTree()
    {
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window->size(), QSize(1024, 600));

        const QStringList names{"actionConfigTCP", "actionConfigUDP", "actionConfigSerial", "actionAbout",
                                "centralWidget", "gridLayout", "plainTextEditTCP", "plainTextEditSerial",
                                "frame", "horizontalLayout", "label", "lineEditTCP", "pushButtonClearTCP",
                                "frame_2", "horizontalLayout_2", "labelSerialPort", "lineEditSerial",
                                "pushButtonClearSerial", "menuBar", "menuFile", "menuSetUp", "menuHelp",
                                "mainToolBar", "statusBar"};
        for (const QString &name : names)
            QVERIFY2(window->findChild<QObject *>(name), qPrintable(name));

        auto *grid = child<QGridLayout>("gridLayout");
        QCOMPARE(grid->spacing(), 6);
        QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
        QCOMPARE(grid->itemAtPosition(0, 0)->widget(), tcpPane());
        QCOMPARE(grid->itemAtPosition(0, 1)->widget(), serialPane());
        QCOMPARE(grid->itemAtPosition(1, 0)->widget(), child<QWidget>("frame"));
        QCOMPARE(grid->itemAtPosition(1, 1)->widget(), child<QWidget>("frame_2"));
        QCOMPARE(child<QHBoxLayout>("horizontalLayout_2")->contentsMargins().top(), 0);

        // The panes: read-only monospace logs, with the fonts the form asks for.
        QCOMPARE(tcpPane()->frameShape(), QFrame::NoFrame);
        QCOMPARE(serialPane()->frameShape(), QFrame::StyledPanel);
        for (auto [pane, size] : {std::pair{tcpPane(), 8}, std::pair{serialPane(), 7}}) {
            QVERIFY(pane->isReadOnly());
            QVERIFY(pane->isEnabled());
            QCOMPARE(pane->font().family(), QStringLiteral("Liberation Mono"));
            QCOMPARE(pane->document()->defaultFont().family(), QStringLiteral("Liberation Mono"));
            QCOMPARE(pane->document()->defaultFont().pointSize(), size);
            QVERIFY(!pane->document()->isUndoRedoEnabled());
        }
        QCOMPARE(tcpPane()->toPlainText(), QString());
        QCOMPARE(serialPane()->toPlainText(), QStringLiteral("Wait serial connection..."));

        // The strips: only the serial command line ever becomes usable, and not before a port opens.
        QCOMPARE(child<QLabel>("label")->text(), QStringLiteral("TCP"));
        QVERIFY(!child<QLabel>("label")->isEnabled());
        QVERIFY(!child<QLineEdit>("lineEditTCP")->isEnabled());
        QCOMPARE(child<QLabel>("labelSerialPort")->text(), QStringLiteral("Serial Port"));
        QVERIFY(!child<QLabel>("labelSerialPort")->isEnabled());
        QCOMPARE(child<QLineEdit>("lineEditSerial")->text(), QStringLiteral("op status ?"));
        QVERIFY(!child<QLineEdit>("lineEditSerial")->isEnabled());
        for (const char *name : {"pushButtonClearTCP", "pushButtonClearSerial"}) {
            QCOMPARE(child<QPushButton>(name)->text(), QString());
            QVERIFY(!child<QPushButton>(name)->icon().isNull());
        }

        // Menus: File empty, Config with TCP/UDP/Serial, Help with About; the tool bar holds nothing.
        const QList<QAction *> bar = child<QMenuBar>("menuBar")->actions();
        QCOMPARE(bar.size(), 3);
        QCOMPARE(bar.at(0)->text(), QStringLiteral("File"));
        QCOMPARE(bar.at(1)->text(), QStringLiteral("Config"));
        QCOMPARE(bar.at(2)->text(), QStringLiteral("Help"));
        QVERIFY(child<QMenu>("menuFile")->actions().isEmpty());
        QStringList config;
        for (QAction *a : child<QMenu>("menuSetUp")->actions())
            config << a->objectName() + QLatin1Char('=') + a->text();
        QCOMPARE(config, (QStringList{"actionConfigTCP=TCP", "actionConfigUDP=UDP", "actionConfigSerial=Serial"}));
        QCOMPARE(child<QMenu>("menuHelp")->actions(), QList<QAction *>{child<QAction>("actionAbout")});
        QCOMPARE(child<QAction>("actionAbout")->text(), QStringLiteral("About"));
        QVERIFY(child<QToolBar>("mainToolBar")->actions().isEmpty());
        QCOMPARE(window->statusBar(), child<QStatusBar>("statusBar"));

        // Config > TCP and Config > UDP do nothing.
        child<QAction>("actionConfigTCP")->trigger();
        child<QAction>("actionConfigUDP")->trigger();
        QCOMPARE(boxes->count(), 0);
    }

    void paneEntry_data()
    {
        QTest::addColumn<bool>("serialSide");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");  // exactly what goes to the pane
        QTest::addColumn<QString>("shown"); // what the user reads
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<bool>("bold");

        const QColor darkBlue(QStringLiteral("darkblue"));
        QTest::newRow("from the TCP client")
            << false << fontDarkBlue << "TCP>" << "op status ?"
            << "<font color=\"DarkBlue\">TCP>op status ?</font>" << "TCP>op status ?" << darkBlue << false;
        QTest::newRow("the same command on the serial side")
            << true << fontDarkBlue << "&gt;" << "op status ?"
            << "<font color=\"DarkBlue\">&gt;op status ?</font>" << ">op status ?" << darkBlue << false;
        QTest::newRow("written to the serial line")
            << true << fontRed << "&gt;&gt;&gt;" << "op status ?\r\n"
            << "<font color=\"Red\">&gt;&gt;&gt;op status ?\r\n</font>" << ">>>op status ? " << QColor(Qt::red) << false;
        QTest::newRow("read from the projector")
            << false << fontDarkBlue << "&lt;&lt;&lt;" << "OP STATUS = 1\n"
            << "<font color=\"DarkBlue\">&lt;&lt;&lt;OP STATUS = 1\n</font>" << "<<<OP STATUS = 1 " << darkBlue << false;
        QTest::newRow("datagram record, bold")
            << false << fontDeepPink << "<b>UDP>" << "udp=1;time=2;?ZZ?</b>"
            << "<font color=\"DeepPink\"><b>UDP>udp=1;time=2;?ZZ?</b></font>" << "UDP>udp=1;time=2;?ZZ?"
            << QColor(QStringLiteral("deeppink")) << true;
        QTest::newRow("markup in the text is not escaped")
            << true << fontDarkBlue << "&gt;" << "a &amp; <i>b</i>"
            << "<font color=\"DarkBlue\">&gt;a &amp; <i>b</i></font>" << ">a & b" << darkBlue << false;
    }

    void paneEntry()
    {
        QFETCH(bool, serialSide);
        QFETCH(QString, tag);
        QFETCH(QString, prefix);
        QFETCH(QString, text);
        QFETCH(QString, html);
        QFETCH(QString, shown);
        QFETCH(QColor, colour);
        QFETCH(bool, bold);

        QCOMPARE(logpane::entry(tag, prefix, text), html);
        if (bold) // the datagram record's own helper gives the same entry
            QCOMPARE(logpane::udpEntry(text.chopped(4)), html);
        QPlainTextEdit *pane = serialSide ? serialPane() : tcpPane();
        QPlainTextEdit *other = serialSide ? tcpPane() : serialPane();
        const QString otherBefore = other->toPlainText();
        const QString before = pane->toPlainText();

        if (serialSide)
            window->logSerialPane(tag, prefix, text);
        else
            window->logTcpPane(tag, prefix, text);

        // One new paragraph; an empty pane takes the entry in its first one.
        QCOMPARE(pane->toPlainText(), before.isEmpty() ? shown : before + QLatin1Char('\n') + shown);
        const QTextBlock last = pane->document()->lastBlock();
        QCOMPARE(last.text(), shown);
        for (QTextBlock::iterator it = last.begin(); !it.atEnd(); ++it) {
            QCOMPARE(it.fragment().charFormat().foreground().color(), colour);
            QCOMPARE(it.fragment().charFormat().fontWeight() == QFont::Bold, bold);
        }
        QVERIFY(pane->textCursor().atEnd());
        QCOMPARE(other->toPlainText(), otherBefore);
    }

    void plainEntryIsTheTextAlone()
    {
        window->logSerialPane(fontRed, QStringLiteral("&gt;&gt;&gt;"), QStringLiteral("op a"));
        window->logSerialPlain(QStringLiteral("TimeOut!!!"));
        const QTextBlock last = serialPane()->document()->lastBlock();
        QCOMPARE(last.text(), QStringLiteral("TimeOut!!!"));
        QCOMPARE(serialPane()->toPlainText(),
                 QStringLiteral("Wait serial connection...\n>>>op a\nTimeOut!!!"));
    }

    void newEntryScrollsBackToTheEnd()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QPlainTextEdit *pane = tcpPane();
        for (int i = 0; i < 200; ++i)
            window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), QStringLiteral("op line %1").arg(i));
        QScrollBar *bar = pane->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        pane->moveCursor(QTextCursor::Start);
        bar->setValue(0);

        window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), QStringLiteral("op last"));
        QVERIFY(pane->textCursor().atEnd());
        QVERIFY(!pane->textCursor().hasSelection());
        QTRY_VERIFY(pane->viewport()->rect().contains(pane->cursorRect()));
        QVERIFY(bar->value() > 0);
    }

    void clearButtonsEmptyTheirOwnPaneOnly()
    {
        window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"), QStringLiteral("op tcp"));
        window->logSerialPane(fontDarkBlue, QStringLiteral("&gt;"), QStringLiteral("op serial"));

        QTest::mouseClick(child<QPushButton>("pushButtonClearSerial"), Qt::LeftButton);
        QCOMPARE(serialPane()->toPlainText(), QString());
        QCOMPARE(tcpPane()->toPlainText(), QStringLiteral("TCP>op tcp"));

        // The waiting line does not come back: the next entry starts at the top.
        window->logSerialPane(fontDarkBlue, QStringLiteral("&gt;"), QStringLiteral("op next"));
        QCOMPARE(serialPane()->toPlainText(), QStringLiteral(">op next"));

        QTest::mouseClick(child<QPushButton>("pushButtonClearTCP"), Qt::LeftButton);
        QCOMPARE(tcpPane()->toPlainText(), QString());
        QCOMPARE(serialPane()->toPlainText(), QStringLiteral(">op next"));
    }

    // Markup from the network must never make the program fetch anything.
    void panesLoadNoResources()
    {
        window->logTcpPane(fontDarkBlue, QStringLiteral("TCP>"),
                           QStringLiteral("<img src=\":/images/clear.png\"><img src=\"file:///etc/hostname\">"));
        for (const char *url : {":/images/clear.png", "qrc:/images/clear.png", "file:///etc/hostname"})
            QVERIFY2(tcpPane()->document()->resource(QTextDocument::ImageResource, QUrl(QLatin1String(url))).isNull(), url);
    }

    void aboutBox()
    {
        const QString page = aboutPage();
        QVERIFY(page.startsWith(QStringLiteral("<div style=\"background-color:#ddd;\">")));
        QVERIFY(page.contains(QStringLiteral("<img src=\":html/NRClogoGreen.png\" width=\"384\" border=\"0\">")));
        QVERIFY(page.contains(QStringLiteral("<b>TCP to Serial Bridge, For internal use only!!!</b>")));

        QString portLine = QStringLiteral("Serial Port");
        for (int round = 0; round < 2; ++round) {
            child<QAction>("actionAbout")->trigger();
            QCOMPARE(boxes->count(), round + 1);
            const BoxCatcher::Box box = boxes->last();
            QCOMPARE(box.title, QStringLiteral("Tolvane ReleaseBuild-" __DATE__));
            QCOMPARE(box.text, page + QStringLiteral("<br>OS: ") + QSysInfo::prettyProductName()
                                   + QStringLiteral("<br>IP: ") + firstAddress()
                                   + QStringLiteral("<br>Port: ") + portLine);
            QCOMPARE(box.parent, window.get());
            // Each box reads the port label afresh.
            portLine = QStringLiteral("ttyV0:9600,8,None,1");
            child<QLabel>("labelSerialPort")->setText(portLine);
        }
    }

    void embeddedImages_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("alpha");
        QTest::newRow("logo, as the page names it") << ":html/NRClogoGreen.png" << QSize(400, 126) << false;
        QTest::newRow("clear") << ":/images/clear.png" << QSize(128, 128) << true;
        QTest::newRow("exit") << ":/images/application-exit.png" << QSize(128, 128) << true;
        QTest::newRow("connect") << ":/images/connect.png" << QSize(128, 128) << true;
        QTest::newRow("disconnect") << ":/images/disconnect.png" << QSize(128, 128) << true;
        QTest::newRow("settings") << ":/images/settings.png" << QSize(128, 128) << true;
        QTest::newRow("serial port") << ":/images/SerialPort.png" << QSize(256, 256) << true;
    }

    void embeddedImages()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QFETCH(bool, alpha);
        const QImage image(path);
        QCOMPARE(image.size(), size);
        QCOMPARE(image.hasAlphaChannel(), alpha);
    }

    void tracesNameTheRelativeSourcePath()
    {
        qInstallMessageHandler(collect);
        const int line = __LINE__ + 1;
        TRACE << "About Not Found:" << QStringLiteral(":/x") << 7;
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.at(0).type, QtDebugMsg);
        QCOMPARE(messages.at(0).category, QStringLiteral("default"));
        QCOMPARE(messages.at(0).text,
                 QStringLiteral("tests/tst_mainwindow.cpp/%1(tracesNameTheRelativeSourcePath): About Not Found: \":/x\" 7")
                     .arg(line));
    }

    void aboutWithoutItsPageOnlyTraces()
    {
        Q_CLEANUP_RESOURCE(tolvane);
        qInstallMessageHandler(collect);
        child<QAction>("actionAbout")->trigger();
        qInstallMessageHandler(nullptr);
        Q_INIT_RESOURCE(tolvane);

        QCOMPARE(boxes->count(), 0);
        QCOMPARE(messages.size(), 1);
        const QRegularExpression form(QStringLiteral(
            "^app/mainwindow\\.cpp/\\d+\\(on_actionAbout_triggered\\): About Not Found: \":/html/About_en_US\\.html\"$"));
        QVERIFY2(form.match(messages.at(0).text).hasMatch(), qPrintable(messages.at(0).text));
    }
};

TOLVANE_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
