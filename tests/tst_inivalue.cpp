// How Tolvane.ini's texts become serial parameters, where the settings dialog tests cannot see it.
#include "core/inivalue.h"

#include <QtTest>

class TestIniValue : public QObject
{
    Q_OBJECT

private slots:
    void parityOffersMarkBeforeSpace()
    {
        QStringList rows;
        for (const inivalue::Row &row : inivalue::parities())
            rows << row.text + QLatin1Char('=') + QString::number(row.value);
        QCOMPARE(rows, (QStringList{"None=0", "Even=2", "Odd=3", "Mark=5", "Space=4"}));
    }

    // As QSettings reads a boolean: only "", "0" and "false" in any case are false.
    void localEchoText()
    {
        for (const char *off : {"false", "FALSE", "False", "0", ""})
            QVERIFY2(!inivalue::boolean(QLatin1String(off)), off);
        for (const char *on : {"true", "yes", "no", "00", "off"})
            QVERIFY2(inivalue::boolean(QLatin1String(on)), on);
    }
};

QTEST_APPLESS_MAIN(TestIniValue)
#include "tst_inivalue.moc"
