// Where the bridge's Tolvane.ini is, as the tools find it.
#include "core/settingsfile.h"

#include <QtTest>

class TestSettingsfile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    }

    // The tool asks for the bridge's file and then goes on under its own name: its own settings,
    // messages and paths must not move to the bridge's folder.
    void bridgePathKeepsTheToolsName_data()
    {
        QTest::addColumn<QString>("ownName"); // empty: the name Qt takes from the executable
        QTest::newRow("name from the executable") << QString();
        QTest::newRow("name set by the tool") << QStringLiteral("tolvane-probe");
    }
    void bridgePathKeepsTheToolsName()
    {
        QFETCH(QString, ownName);
        QCoreApplication::setApplicationName(ownName);
        const QString before = QCoreApplication::applicationName();
        const QString ownPath = settingsfile::path();

        QCOMPARE(settingsfile::bridgePath(), m_home.path() + QStringLiteral("/tolvane/Tolvane.ini"));
        QCOMPARE(QCoreApplication::applicationName(), before);
        QCOMPARE(settingsfile::path(), ownPath);
        QVERIFY(ownPath != settingsfile::bridgePath());
    }
};

QTEST_GUILESS_MAIN(TestSettingsfile)
#include "tst_settingsfile.moc"
