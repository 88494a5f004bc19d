// The About box, built from the embedded page and what the window knows when it opens.
#include "tests/support/bridgerig.h"
#include "core/netinfo.h"

#include <QAction>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void aboutBoxReadsThePortLabelEachTime()
    {
        rig::noPorts();
        rig::Bridge bridge;
        bridge.boxes.clear();
        QFile file(QStringLiteral(":/html/About_en_US.html"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString page = QString::fromUtf8(file.readAll());
        // The program's build date, which a build around midnight can put a day after this file's.
        const QRegularExpression title(QStringLiteral("^Tolvane ReleaseBuild-[A-Z][a-z]{2} [ 123][0-9] [0-9]{4}$"));

        for (const QString &port : {QStringLiteral("Serial Port"), QStringLiteral("ttyV0:9600,8,None,1")}) {
            bridge.label()->setText(port);
            bridge.window->findChild<QAction *>(QStringLiteral("actionAbout"))->trigger();
            QVERIFY2(title.match(bridge.boxes.last().title).hasMatch(), qPrintable(bridge.boxes.last().title));
            QCOMPARE(bridge.boxes.last().text, page + "<br>OS: " + QSysInfo::prettyProductName() + "<br>IP: "
                                                   + bridge.window->getLocalNetInfo(netinfo::Ipv4Addresses).first()
                                                   + "<br>Port: " + port);
            QCOMPARE(bridge.boxes.last().parent, bridge.window.get());
        }
        QCOMPARE(bridge.boxes.count(), 2);
    }
};

TOLVANE_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
