// The serial settings dialog: the port list (through TOLVANE_SERIAL_PORTS, or the system's own) and
// Tolvane.ini. The listed paths are never opened by the dialog.
#include "tests/support/boxcatcher.h"
#include "core/portlist.h"
#include "settings/settingsdialog.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QtTest>

namespace {

QComboBox *box(const SettingsDialog &d, const char *name) { return d.findChild<QComboBox *>(QLatin1String(name)); }
QCheckBox *echoBox(const SettingsDialog &d) { return d.findChild<QCheckBox *>(QStringLiteral("localEchoCheckBox")); }
QString label(const SettingsDialog &d, const char *name) { return d.findChild<QLabel *>(QLatin1String(name))->text(); }

// What each box shows: its text, or "(none)" without a current item.
QString selection(const SettingsDialog &d)
{
    QStringList out;
    for (const char *name :
         {"serialPortInfoListBox", "baudRateBox", "dataBitsBox", "parityBox", "stopBitsBox", "flowControlBox"})
        out << (box(d, name)->currentIndex() == -1 ? QStringLiteral("(none)") : box(d, name)->currentText());
    return out.join(QLatin1Char(' '));
}

// "name text=value ... echo|no-echo"
QString describe(const Settings &s)
{
    QString out = s.name;
    const QPair<QString, int> pairs[] = {{s.stringBaudRate, s.baudRate},
                                         {s.stringDataBits, s.dataBits},
                                         {s.stringParity, s.parity},
                                         {s.stringStopBits, s.stopBits},
                                         {s.stringFlowControl, s.flowControl}};
    for (const auto &p : pairs)
        out += QLatin1Char(' ') + p.first + QLatin1Char('=') + QString::number(p.second);
    return out + (s.localEchoEnabled ? " echo" : " no-echo");
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable " + path.toUtf8() + ">");
}
// Golden and hand-edited INI files kept in tests/data.
QByteArray dataFile(const char *name) { return readFile(QStringLiteral(TOLVANE_TEST_DATA_DIR "/") + name); }
void writeIni(const QByteArray &content)
{
    QDir().mkpath(QFileInfo(testenv::iniFile()).path());
    QFile f(testenv::iniFile());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size());
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QFile::remove(testenv::iniFile());
        qputenv("TOLVANE_SERIAL_PORTS", " /tmp/fakeA , ,/tmp/fakeB,"); // blanks and empty entries dropped
    }

    // The boxes' defaults, the no-port box, and Apply: saved as shown (no port), hidden, then signalled.
    void withoutAnyPort()
    {
        writeIni("[Default]\nPort=COM7\nBaudRate=9600\n"); // read only when the port opens
        qputenv("TOLVANE_SERIAL_PORTS", "");
        BoxCatcher boxes;
        SettingsDialog d;
        QCOMPARE(boxes.count(), 1);
        const BoxCatcher::Box box = boxes.last();
        QCOMPARE(box.title + ": " + box.text,
                 "Serial Port Not Available: Connect USB/Serial cable and restart program!");
        QVERIFY(box.icon == QMessageBox::Critical && !box.parent && !d.portAvailable);
        QVERIFY(!(d.windowFlags() & Qt::WindowContextHelpButtonHint));
        QCOMPARE(selection(d), QStringLiteral("(none) 115200 8 None 1 None"));
        QVERIFY(echoBox(d)->isChecked());

        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QList<QByteArray> fileAtSignal;
        connect(&d, &SettingsDialog::sigSettingChange, this, [&] {
            QVERIFY(d.isHidden());
            fileAtSignal << readFile(testenv::iniFile());
        });
        QTest::mouseClick(d.findChild<QPushButton *>(QStringLiteral("applyButton")), Qt::LeftButton);
        QCOMPARE(fileAtSignal, QList<QByteArray>{dataFile("saved-apply-no-port.ini")});
        QCOMPARE(boxes.count(), 1);             // the no-port box of start-up only
        QCOMPARE(d.settings().name, QString()); // nothing reloaded
    }

    // Without the override the list is the system's own, in Qt's order; an empty one gets the box.
    void systemPortsWithoutOverride()
    {
        if (!qEnvironmentVariableIsSet("TOLVANE_SERIAL_MASKED"))
            QSKIP("run through tests/serial-masked.sh: listing may open the machine's serial devices");
        qunsetenv("TOLVANE_SERIAL_PORTS");
        QStringList system;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            system << info.portName() + QLatin1Char(' ') + info.systemLocation();
        BoxCatcher boxes;
        SettingsDialog d;
        QComboBox *ports = box(d, "serialPortInfoListBox");
        QStringList listed;
        for (int i = 0; i < ports->count(); ++i)
            listed << ports->itemText(i) + QLatin1Char(' ') + ports->itemData(i).toStringList().value(4);
        QCOMPARE(listed, system);
        QCOMPARE(d.portAvailable, !system.isEmpty());
        QCOMPARE(boxes.count(), system.isEmpty() ? 1 : 0);
    }

    void eachPortShowsItsOwnDetails()
    {
        SettingsDialog d;
        QComboBox *ports = box(d, "serialPortInfoListBox");
        QVERIFY(d.portAvailable);
        QCOMPARE(ports->count(), 2);
        QCOMPARE(label(d, "locationLabel"), QStringLiteral("Location: /tmp/fakeA"));
        ports->setCurrentIndex(1);
        QCOMPARE(label(d, "locationLabel"), QStringLiteral("Location: /tmp/fakeB"));
        QCOMPARE(label(d, "vidLabel"), QStringLiteral("Vendor Identifier: N/A"));
        QVERIFY(QMetaObject::invokeMethod(&d, "showPortInfo", Q_ARG(int, -1)));
        QCOMPARE(label(d, "locationLabel"), QStringLiteral("Location: /tmp/fakeB"));

        // What the system tells of a real adapter: identifiers in lower-case hexadecimal.
        portlist::Port usb{"COM1", "", "FTDI", "", "\\\\.\\COM1", 0xABCD, 0x000f};
        QCOMPARE(portlist::itemData(usb), (QStringList{"COM1", "N/A", "FTDI", "N/A", "\\\\.\\COM1", "abcd", "f"}));
    }

    void readINI_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<bool>("portEditable");
        QTest::addColumn<bool>("baudEditable");
        QTest::addColumn<bool>("savedTheSame"); // saved again as the boxes show them ("Even", not 2)
        QTest::newRow("no file: defaults, parity N and port Com3 match no item")
            << QString() << "Com3 9600=9600 8=8 N=0 1=1 None=0 echo"
            << "(none) 9600 8 (none) 1 None" << true << false << false;
        QTest::newRow("written by the program: Even, 1.5, RTS/CTS, echo false")
            << "saved-chosen.ini"
            << "/tmp/fakeB 38400=38400 7=7 Even=2 1.5=3 RTS/CTS=1 no-echo"
            << "/tmp/fakeB 38400 7 Even 1.5 RTS/CTS" << false << false << true;
        QTest::newRow("hand-edited parity 2, echo no (still on)")
            << "settings-parity-number.ini"
            << "/tmp/fakeA 19200=19200 5=5 2=2 2=2 XON/XOFF=2 echo"
            << "/tmp/fakeA 19200 5 (none) 2 XON/XOFF" << false << false << false;
        QTest::newRow("unlisted baud rate, echo 0") << "settings-baud-unlisted.ini"
                                                    << "Com3 57600=57600 8=8 N=0 1=1 None=0 no-echo"
                                                    << "(none) (none) 8 (none) 1 None" << true << true << false;
        QTest::newRow("empty values, echo empty")
            << "settings-empty-values.ini"
            << " =0 =0 =0 =0 =0 no-echo"
            << "(none) (none) (none) (none) (none) (none)" << true << true << false;
        QTest::newRow("wrong letter case matches nothing, echo FALSE")
            << "settings-wrong-case.ini"
            << "/TMP/FAKEB 9600=9600 8=8 even=0 1.5=3 rts/cts=0 no-echo"
            << "(none) 9600 8 (none) 1.5 (none)" << true << false << false;
    }

    void readINI()
    {
        QFETCH(QString, file);
        QFETCH(QString, record);
        QFETCH(QString, selected);
        QFETCH(bool, portEditable);
        QFETCH(bool, baudEditable);
        QFETCH(bool, savedTheSame);
        if (!file.isEmpty())
            writeIni(dataFile(qPrintable(file)));
        SettingsDialog d;
        echoBox(d)->setChecked(!record.endsWith(QLatin1String(" echo")));
        d.readINI();
        QCOMPARE(describe(d.settings()), record);
        QCOMPARE(selection(d), selected);
        QCOMPARE(echoBox(d)->isChecked(), d.settings().localEchoEnabled);
        QCOMPARE(box(d, "serialPortInfoListBox")->isEditable(), portEditable);
        QCOMPARE(box(d, "baudRateBox")->isEditable(), baudEditable);
        if (savedTheSame) {
            QFile::remove(testenv::iniFile());
            d.saveINI();
            QCOMPARE(readFile(testenv::iniFile()), dataFile(qPrintable(file)));
        }
    }

    // A stored port or rate that matches no item is typed in instead, the rate within range.
    void unlistedValuesAreTyped()
    {
        writeIni("[Default]\nPort=COM9\nBaudRate=57600\n");
        SettingsDialog d;
        d.readINI();
        QComboBox *ports = box(d, "serialPortInfoListBox");
        QComboBox *baud = box(d, "baudRateBox");
        QVERIFY(ports->isEditable() && baud->isEditable() && (ports->currentText() + baud->currentText()).isEmpty());
        auto *validator = qobject_cast<const QIntValidator *>(baud->lineEdit()->validator());
        QVERIFY(validator);
        QCOMPARE(validator->top(), 4000000);
        QTest::keyClicks(ports->lineEdit(), "/tmp/typed");
        QTest::keyClicks(baud->lineEdit(), "12a34-");
        d.saveINI();
        const QByteArray saved = readFile(testenv::iniFile());
        QVERIFY2(saved.contains("\nPort=/tmp/typed\n") && saved.contains("\nBaudRate=1234\n"), saved);

        baud->setCurrentIndex(0); // picking a listed rate ends the typing
        QVERIFY(!baud->isEditable());
    }
};

TOLVANE_TEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
