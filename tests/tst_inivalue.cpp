#include "core/inivalue.h"

#include <QtTest>

// How a text stored in Tolvane.ini becomes a serial parameter.
class TestIniValue : public QObject
{
    Q_OBJECT

private slots:
    void tablesKeepTheirOrderAndValues_data();
    void tablesKeepTheirOrderAndValues();
    void storedTextBecomesValue_data();
    void storedTextBecomesValue();
    void localEchoText_data();
    void localEchoText();
};

using Table = QVector<inivalue::Row>;
Q_DECLARE_METATYPE(Table)

static QStringList describe(const Table &rows)
{
    QStringList out;
    for (const inivalue::Row &row : rows)
        out << row.text + QLatin1Char('=') + QString::number(row.value);
    return out;
}

void TestIniValue::tablesKeepTheirOrderAndValues_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("baud rates") << inivalue::baudRates()
                                << QStringList{"9600=9600", "19200=19200", "38400=38400", "115200=115200"};
    QTest::newRow("data bits") << inivalue::dataBits() << QStringList{"5=5", "6=6", "7=7", "8=8"};
    // Mark is offered before Space although QSerialPort numbers them the other way round.
    QTest::newRow("parity") << inivalue::parities()
                            << QStringList{"None=0", "Even=2", "Odd=3", "Mark=5", "Space=4"};
    QTest::newRow("stop bits") << inivalue::stopBits() << QStringList{"1=1", "1.5=3", "2=2"};
    QTest::newRow("flow control") << inivalue::flowControls()
                                  << QStringList{"None=0", "RTS/CTS=1", "XON/XOFF=2"};
}

void TestIniValue::tablesKeepTheirOrderAndValues()
{
    QFETCH(Table, table);
    QFETCH(QStringList, rows);
    QCOMPARE(describe(table), rows);
}

void TestIniValue::storedTextBecomesValue_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("value");

    QTest::newRow("Even is its row") << inivalue::parities() << "Even" << 2;
    QTest::newRow("Space keeps value 4") << inivalue::parities() << "Space" << 4;
    QTest::newRow("1.5 stop bits") << inivalue::stopBits() << "1.5" << 3;
    QTest::newRow("RTS/CTS") << inivalue::flowControls() << "RTS/CTS" << 1;
    QTest::newRow("hand-edited parity 2 is read as a number") << inivalue::parities() << "2" << 2;
    QTest::newRow("default parity N is no number") << inivalue::parities() << "N" << 0;
    QTest::newRow("match is case-sensitive") << inivalue::parities() << "even" << 0;
    QTest::newRow("baud rate outside the table") << inivalue::baudRates() << "57600" << 57600;
    QTest::newRow("empty text") << inivalue::baudRates() << "" << 0;
    QTest::newRow("number with trailing text") << inivalue::baudRates() << "9600 baud" << 0;
    QTest::newRow("negative number") << inivalue::baudRates() << "-5" << -5;
}

void TestIniValue::storedTextBecomesValue()
{
    QFETCH(Table, table);
    QFETCH(QString, stored);
    QFETCH(int, value);
    QCOMPARE(inivalue::value(stored, table), value);
}

void TestIniValue::localEchoText_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("true") << "true" << true;
    QTest::newRow("false") << "false" << false;
    QTest::newRow("FALSE") << "FALSE" << false;
    QTest::newRow("False") << "False" << false;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("yes") << "yes" << true;
    QTest::newRow("no is still true") << "no" << true;
    QTest::newRow("00 is not 0") << "00" << true;
}

void TestIniValue::localEchoText()
{
    QFETCH(QString, stored);
    QFETCH(bool, enabled);
    QCOMPARE(inivalue::boolean(stored), enabled);
}

QTEST_APPLESS_MAIN(TestIniValue)
#include "tst_inivalue.moc"
