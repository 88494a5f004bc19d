#include "tests/support/bridgerig.h"
#include "core/netinfo.h"
#include "core/product.h"
#include "core/trace.h"
#include "core/version.h"

#include <QAction>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

static QStringList traces;
static void collect(QtMsgType, const QMessageLogContext &, const QString &text) { traces.append(text); }

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<rig::Bridge> bridge; // no port: the window stays as start-up left it
    MainWindow *window = nullptr;

    template <typename T = QWidget>
    T *child(const char *name) { return window->findChild<T *>(QLatin1String(name)); }

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

    void aboutBoxReadsThePortLabelEachTime()
    {
        QFile file(QStringLiteral(":/html/About_en_US.html"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString page = QString::fromUtf8(file.readAll());

        for (const QString &port : {QStringLiteral("Serial Port"), QStringLiteral("ttyV0:9600,8,None,1")}) {
            child<QLabel>("labelSerialPort")->setText(port);
            child<QAction>("actionAbout")->trigger();
            // The program's build date, which a build around midnight can put a day after this file's.
            const QRegularExpression title(QStringLiteral("^Tolvane ReleaseBuild-[A-Z][a-z]{2} [ 123][0-9] [0-9]{4}$"));
            QVERIFY2(title.match(bridge->boxes.last().title).hasMatch(), qPrintable(bridge->boxes.last().title));
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
