// How Tolvane.ini's texts become serial parameters, where the settings dialog tests cannot see it.
#include "core/inivalue.h"

#include <QtTest>

class TestIniValue : public QObject
{
    Q_OBJECT

private slots:
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
