#include "boxcatcher.h"
#include "settingsdialog.h"
#include "testenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <QtTest>

// The serial settings dialog: its form, the port list (through TOLVANE_SERIAL_PORTS, never a real
// device) and Tolvane.ini. The listed paths are never opened by the dialog.
class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formHasTheNamedWidgetsInPlace();
    void constructorFillsBoxesWithoutReadingTheFile();
    void noPortShowsCriticalBoxWithoutParent();
    void refillWithoutPortsEmptiesTheListButKeepsDetails();
    void listsEachPortWithItsOwnDetails();
    void refillFollowsTheOverride();

    void readINILoadsRecordAndSelections_data();
    void readINILoadsRecordAndSelections();
    void localEchoIsReadAsText_data();
    void localEchoIsReadAsText();
    void unlistedBaudRateIsTypedWithinRange();

    void saveWritesTheBoxTextsNotNumbers();
    void saveWritesEmptyTextForBoxWithoutItem();
    void portSelectionSurvivesSaveAndRefill();
    void typedPortName_data();
    void typedPortName();
    void applyWithoutPortSavesEmptyPortHidesAndSignals();
};

namespace {

const QByteArray twoPorts = "/tmp/fakeA,/tmp/fakeB";

QStringList captured;

void captureMfg(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && message.startsWith(QLatin1String("MFG: ")))
        captured << message;
}

QComboBox *box(const SettingsDialog &d, const char *name)
{
    auto *b = d.findChild<QComboBox *>(QLatin1String(name));
    if (!b)
        qFatal("no combo box %s", name);
    return b;
}

QString label(const SettingsDialog &d, const char *name)
{
    auto *l = d.findChild<QLabel *>(QLatin1String(name));
    return l ? l->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

QStringList detailLabels(const SettingsDialog &d)
{
    return {label(d, "descriptionLabel"), label(d, "manufacturerLabel"), label(d, "serialNumberLabel"),
            label(d, "locationLabel"),    label(d, "vidLabel"),          label(d, "pidLabel")};
}

QStringList detailsOf(const QString &path)
{
    return {"Description: N/A",   "Manufacturer: N/A",         "Serial number: N/A",
            "Location: " + path, "Vendor Identifier: N/A", "Product Identifier: N/A"};
}

QCheckBox *echoBox(const SettingsDialog &d)
{
    return d.findChild<QCheckBox *>(QStringLiteral("localEchoCheckBox"));
}

// What each box shows: its current text, or "(none)" without a current item.
QStringList selection(const SettingsDialog &d)
{
    QStringList out;
    for (const char *name : {"serialPortInfoListBox", "baudRateBox", "dataBitsBox", "parityBox", "stopBitsBox",
                             "flowControlBox"}) {
        QComboBox *b = box(d, name);
        out << (b->currentIndex() == -1 ? QStringLiteral("(none)") : b->currentText());
    }
    return out;
}

QStringList fields(const Settings &s)
{
    return {"name=" + s.name,
            "baudRate=" + QString::number(s.baudRate),
            "stringBaudRate=" + s.stringBaudRate,
            "dataBits=" + QString::number(s.dataBits),
            "stringDataBits=" + s.stringDataBits,
            "parity=" + QString::number(s.parity),
            "stringParity=" + s.stringParity,
            "stopBits=" + QString::number(s.stopBits),
            "stringStopBits=" + s.stringStopBits,
            "flowControl=" + QString::number(s.flowControl),
            "stringFlowControl=" + s.stringFlowControl,
            QStringLiteral("localEchoEnabled=") + (s.localEchoEnabled ? "true" : "false")};
}

QStringList fields(const QString &name, int baud, const QString &baudText, int data, const QString &dataText,
                   int parity, const QString &parityText, int stop, const QString &stopText, int flow,
                   const QString &flowText, bool echo)
{
    Settings s;
    s.name = name;
    s.baudRate = baud;
    s.stringBaudRate = baudText;
    s.dataBits = QSerialPort::DataBits(data);
    s.stringDataBits = dataText;
    s.parity = QSerialPort::Parity(parity);
    s.stringParity = parityText;
    s.stopBits = QSerialPort::StopBits(stop);
    s.stringStopBits = stopText;
    s.flowControl = QSerialPort::FlowControl(flow);
    s.stringFlowControl = flowText;
    s.localEchoEnabled = echo;
    return fields(s);
}

QStringList defaultFields()
{
    return fields("Com3", 9600, "9600", 8, "8", 0, "N", 1, "1", 0, "None", true);
}

void writeIni(const QByteArray &content)
{
    const QString path = testenv::iniFile();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable " + path.toUtf8() + ">");
}

// Golden and hand-edited INI files kept in tests/data.
QString dataFile(const QString &name)
{
#ifdef TOLVANE_TEST_DATA_DIR
    return QStringLiteral(TOLVANE_TEST_DATA_DIR "/") + name;
#else
    return QFINDTESTDATA(QStringLiteral("data/") + name);
#endif
}

QByteArray golden(const char *name)
{
    return readFile(dataFile(QLatin1String(name)));
}

void choose(QComboBox *b, const QString &text)
{
    const int index = b->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY2(index >= 0, qPrintable(text));
    b->setCurrentIndex(index);
}

} // namespace

void TestSettingsDialog::init()
{
    QFile::remove(testenv::iniFile());
    qputenv("TOLVANE_SERIAL_PORTS", twoPorts);
    captured.clear();
}

void TestSettingsDialog::cleanup()
{
    qInstallMessageHandler(nullptr);
}

void TestSettingsDialog::formHasTheNamedWidgetsInPlace()
{
    qputenv("TOLVANE_SERIAL_PORTS", "");
    BoxCatcher boxes;
    SettingsDialog d;

    QCOMPARE(d.objectName(), QStringLiteral("SettingsDialog"));
    QCOMPARE(d.size(), QSize(281, 262));
    QCOMPARE(d.windowTitle(), QStringLiteral("Settings"));

    auto *top = qobject_cast<QGridLayout *>(d.layout());
    QVERIFY(top);
    QCOMPARE(top->objectName(), QStringLiteral("gridLayout_3"));

    struct Placement {
        const char *widget;
        const char *layout;
        int row, column, rowSpan, columnSpan;
    };
    const Placement placements[] = {
        {"parametersBox", "gridLayout_3", 0, 1, 1, 1},
        {"baudRateLabel", "gridLayout_2", 0, 0, 1, 1},
        {"baudRateBox", "gridLayout_2", 0, 1, 1, 1},
        {"dataBitsLabel", "gridLayout_2", 1, 0, 1, 1},
        {"dataBitsBox", "gridLayout_2", 1, 1, 1, 1},
        {"parityLabel", "gridLayout_2", 2, 0, 1, 1},
        {"parityBox", "gridLayout_2", 2, 1, 1, 1},
        {"stopBitsLabel", "gridLayout_2", 3, 0, 1, 1},
        {"stopBitsBox", "gridLayout_2", 3, 1, 1, 1},
        {"flowControlLabel", "gridLayout_2", 4, 0, 1, 1},
        {"flowControlBox", "gridLayout_2", 4, 1, 1, 1},
        {"selectBox", "gridLayout_3", 0, 0, 1, 1},
        {"serialPortInfoListBox", "gridLayout", 0, 0, 1, 1},
        {"descriptionLabel", "gridLayout", 1, 0, 1, 1},
        {"manufacturerLabel", "gridLayout", 2, 0, 1, 1},
        {"serialNumberLabel", "gridLayout", 3, 0, 1, 1},
        {"locationLabel", "gridLayout", 4, 0, 1, 1},
        {"vidLabel", "gridLayout", 5, 0, 1, 1},
        {"pidLabel", "gridLayout", 6, 0, 1, 1},
        {"additionalOptionsGroupBox", "gridLayout_3", 1, 0, 1, 2},
    };
    for (const Placement &p : placements) {
        auto *w = d.findChild<QWidget *>(QLatin1String(p.widget));
        auto *grid = d.findChild<QGridLayout *>(QLatin1String(p.layout));
        QVERIFY2(w && grid, p.widget);
        const int index = grid->indexOf(w);
        QVERIFY2(index >= 0, p.widget);
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QVector<int>({row, column, rowSpan, columnSpan}),
                 QVector<int>({p.row, p.column, p.rowSpan, p.columnSpan}));
        QVERIFY2(grid->itemAt(index)->alignment() == 0, p.widget);
    }
    QCOMPARE(d.findChild<QGroupBox *>("parametersBox")->layout()->objectName(), QStringLiteral("gridLayout_2"));
    QCOMPARE(d.findChild<QGroupBox *>("selectBox")->layout()->objectName(), QStringLiteral("gridLayout"));

    // Third row: a 96x20 expanding spacer pushes Apply to the right edge.
    auto *row3 = d.findChild<QHBoxLayout *>("horizontalLayout");
    QVERIFY(row3);
    int row, column, rowSpan, columnSpan;
    top->getItemPosition(top->indexOf(row3), &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QVector<int>({row, column, rowSpan, columnSpan}), QVector<int>({2, 0, 1, 2}));
    QCOMPARE(row3->count(), 2);
    QSpacerItem *spacer = row3->itemAt(0)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(96, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(row3->itemAt(1)->widget(), d.findChild<QWidget *>("applyButton"));

    auto *options = d.findChild<QGroupBox *>("additionalOptionsGroupBox");
    auto *optionsLayout = qobject_cast<QVBoxLayout *>(options->layout());
    QVERIFY(optionsLayout);
    QCOMPARE(optionsLayout->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(optionsLayout->itemAt(0)->widget(), echoBox(d));

    // Creation order is the keyboard focus order.
    const QStringList inputs = {"baudRateBox",           "dataBitsBox", "parityBox",       "stopBitsBox",
                                "flowControlBox",        "serialPortInfoListBox", "applyButton",
                                "localEchoCheckBox"};
    QStringList chain;
    QWidget *w = box(d, "baudRateBox");
    for (int i = 0; i < 200 && chain.size() < inputs.size(); ++i, w = w->nextInFocusChain()) {
        if (inputs.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain << w->objectName();
    }
    QCOMPARE(chain, inputs);

    const QList<QPair<const char *, QString>> texts = {
        {"parametersBox", "Select Parameters"},
        {"baudRateLabel", "BaudRate:"},
        {"dataBitsLabel", "Data bits:"},
        {"parityLabel", "Parity:"},
        {"stopBitsLabel", "Stop bits:"},
        {"flowControlLabel", "Flow control:"},
        {"selectBox", "Select Serial Port"},
        // With no port listed the detail labels keep the form's captions.
        {"descriptionLabel", "Description:"},
        {"manufacturerLabel", "Manufacturer:"},
        {"serialNumberLabel", "Serial number:"},
        {"locationLabel", "Location:"},
        {"vidLabel", "Vendor ID:"},
        {"pidLabel", "Product ID:"},
        {"applyButton", "Apply"},
        {"additionalOptionsGroupBox", "Additional options"},
        {"localEchoCheckBox", "Local echo"},
    };
    for (const auto &t : texts) {
        QObject *o = d.findChild<QObject *>(QLatin1String(t.first));
        QVERIFY2(o, t.first);
        const QString text = o->property(qobject_cast<QGroupBox *>(o) ? "title" : "text").toString();
        QCOMPARE(text, t.second);
    }
    QVERIFY(echoBox(d)->isChecked());
    QCOMPARE(box(d, "serialPortInfoListBox")->count(), 0);
}

void TestSettingsDialog::constructorFillsBoxesWithoutReadingTheFile()
{
    writeIni("[Default]\nBaudRate=9600\nParity=Odd\n");
    BoxCatcher boxes;
    SettingsDialog d;

    QCOMPARE(boxes.count(), 0);
    QVERIFY(d.portAvailable);
    QVERIFY(!(d.windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(!d.isVisible());

    const QList<QPair<const char *, QStringList>> items = {
        {"baudRateBox", {"9600=9600", "19200=19200", "38400=38400", "115200=115200"}},
        {"dataBitsBox", {"5=5", "6=6", "7=7", "8=8"}},
        {"parityBox", {"None=0", "Even=2", "Odd=3", "Mark=5", "Space=4"}},
        {"stopBitsBox", {"1=1", "1.5=3", "2=2"}},
        {"flowControlBox", {"None=0", "RTS/CTS=1", "XON/XOFF=2"}},
    };
    for (const auto &expected : items) {
        QComboBox *b = box(d, expected.first);
        QStringList got;
        for (int i = 0; i < b->count(); ++i)
            got << b->itemText(i) + "=" + b->itemData(i).toString();
        QCOMPARE(got, expected.second);
        QVERIFY2(!b->isEditable(), expected.first);
    }

    // The dialog's own choices until the file is first read, not the file's and not the INI defaults.
    QCOMPARE(selection(d), QStringList({"/tmp/fakeA", "115200", "8", "None", "1", "None"}));
    QVERIFY(echoBox(d)->isChecked());
    QCOMPARE(box(d, "baudRateBox")->insertPolicy(), QComboBox::NoInsert);
    QCOMPARE(box(d, "serialPortInfoListBox")->insertPolicy(), QComboBox::InsertAtBottom);
    QCOMPARE(d.settings().stringBaudRate, QString());
    QCOMPARE(d.settings().name, QString());
}

void TestSettingsDialog::noPortShowsCriticalBoxWithoutParent()
{
    qputenv("TOLVANE_SERIAL_PORTS", "");
    BoxCatcher boxes;
    SettingsDialog d;

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Serial Port Not Available"));
    QCOMPARE(boxes.last().text, QStringLiteral("Connect USB/Serial cable and restart program!"));
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QVERIFY(!boxes.last().parent);
    QVERIFY(!d.portAvailable);

    QComboBox *ports = box(d, "serialPortInfoListBox");
    QCOMPARE(ports->count(), 0);
    QVERIFY(!ports->isEditable()); // the first fill had no item to take away
    QCOMPARE(selection(d), QStringList({"(none)", "115200", "8", "None", "1", "None"}));
}

void TestSettingsDialog::refillWithoutPortsEmptiesTheListButKeepsDetails()
{
    SettingsDialog d;
    QVERIFY(d.portAvailable);
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeA"));

    qputenv("TOLVANE_SERIAL_PORTS", "");
    BoxCatcher boxes;
    bool flagWhileBoxOpen = false;
    boxes.whileOpen = [&](const BoxCatcher::Box &) { flagWhileBoxOpen = d.portAvailable; };
    d.fillPortsInfo();

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Serial Port Not Available"));
    QVERIFY(flagWhileBoxOpen); // cleared only once the box is closed
    QVERIFY(!d.portAvailable);
    QComboBox *ports = box(d, "serialPortInfoListBox");
    QCOMPARE(ports->count(), 0);
    QVERIFY(ports->isEditable()); // the clearing took its current item away
    QCOMPARE(ports->currentText(), QString());
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeA"));

    QVERIFY(QMetaObject::invokeMethod(&d, "showPortInfo", Q_ARG(int, -1)));
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeA"));
}

void TestSettingsDialog::listsEachPortWithItsOwnDetails()
{
    qInstallMessageHandler(captureMfg);
    BoxCatcher boxes;
    SettingsDialog d;
    qInstallMessageHandler(nullptr);

    QCOMPARE(boxes.count(), 0);
    QComboBox *ports = box(d, "serialPortInfoListBox");
    QCOMPARE(ports->count(), 2);
    QCOMPARE(ports->itemText(0), QStringLiteral("/tmp/fakeA"));
    QCOMPARE(ports->itemText(1), QStringLiteral("/tmp/fakeB"));
    QCOMPARE(ports->itemData(0).toStringList(),
             QStringList({"/tmp/fakeA", "N/A", "N/A", "N/A", "/tmp/fakeA", "N/A", "N/A"}));
    QCOMPARE(ports->itemData(1).toStringList(),
             QStringList({"/tmp/fakeB", "N/A", "N/A", "N/A", "/tmp/fakeB", "N/A", "N/A"}));

    // One trace per port with the manufacturer as reported: empty, not "N/A".
    QCOMPARE(captured.size(), 2);
    for (const QString &line : qAsConst(captured)) {
        QVERIFY2(line.startsWith("MFG: , "), qPrintable(line));
        QVERIFY2(line.mid(7).toInt() < 0, qPrintable(line));
    }

    QCOMPARE(ports->currentIndex(), 0);
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeA"));
    ports->setCurrentIndex(1);
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeB"));
    QVERIFY(!ports->isEditable());
    ports->setCurrentIndex(0);
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeA"));

    // The slot itself, reached directly.
    QVERIFY(QMetaObject::invokeMethod(&d, "showPortInfo", Q_ARG(int, 1)));
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeB"));
    QVERIFY(QMetaObject::invokeMethod(&d, "showPortInfo", Q_ARG(int, -1)));
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeB"));
}

void TestSettingsDialog::refillFollowsTheOverride()
{
    BoxCatcher boxes;
    SettingsDialog d;
    QComboBox *ports = box(d, "serialPortInfoListBox");
    ports->setCurrentIndex(1);

    qputenv("TOLVANE_SERIAL_PORTS", "/tmp/fakeC");
    d.fillPortsInfo();

    QCOMPARE(boxes.count(), 0);
    QVERIFY(d.portAvailable);
    QCOMPARE(ports->count(), 1);
    QCOMPARE(ports->currentText(), QStringLiteral("/tmp/fakeC"));
    QVERIFY(!ports->isEditable()); // editable only between the clearing and the first new port
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeC"));
}

void TestSettingsDialog::readINILoadsRecordAndSelections_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("record");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<bool>("portEditable");
    QTest::addColumn<bool>("baudEditable");

    QTest::newRow("no file: defaults, parity N and port Com3 match no item")
        << QString() << defaultFields() << QStringList({"(none)", "9600", "8", "(none)", "1", "None"}) << true
        << false;
    QTest::newRow("written by the program: Even, 1.5, RTS/CTS")
        << "saved-chosen.ini" << fields("/tmp/fakeB", 38400, "38400", 7, "7", 2, "Even", 3, "1.5", 1, "RTS/CTS", false)
        << QStringList({"/tmp/fakeB", "38400", "7", "Even", "1.5", "RTS/CTS"}) << false << false;
    QTest::newRow("hand-edited parity 2")
        << "settings-parity-number.ini" << fields("/tmp/fakeA", 19200, "19200", 5, "5", 2, "2", 2, "2", 2, "XON/XOFF", true)
        << QStringList({"/tmp/fakeA", "19200", "5", "(none)", "2", "XON/XOFF"}) << false << false;
    QTest::newRow("unlisted baud rate, the rest missing")
        << "settings-baud-unlisted.ini" << fields("Com3", 57600, "57600", 8, "8", 0, "N", 1, "1", 0, "None", true)
        << QStringList({"(none)", "(none)", "8", "(none)", "1", "None"}) << true << true;
    QTest::newRow("empty values give empty texts and 0")
        << "settings-empty-values.ini" << fields("", 0, "", 0, "", 0, "", 0, "", 0, "", false)
        << QStringList({"(none)", "(none)", "(none)", "(none)", "(none)", "(none)"}) << true << true;
    QTest::newRow("wrong letter case matches nothing; other groups ignored")
        << "settings-wrong-case.ini" << fields("/TMP/FAKEB", 9600, "9600", 8, "8", 0, "even", 3, "1.5", 0, "rts/cts", false)
        << QStringList({"(none)", "9600", "8", "(none)", "1.5", "(none)"}) << true << false;
}

void TestSettingsDialog::readINILoadsRecordAndSelections()
{
    QFETCH(QString, file);
    QFETCH(QStringList, record);
    QFETCH(QStringList, selected);
    QFETCH(bool, portEditable);
    QFETCH(bool, baudEditable);

    if (!file.isEmpty())
        writeIni(readFile(dataFile(file)));

    SettingsDialog d;
    echoBox(d)->setChecked(!record.last().endsWith("true"));
    d.readINI();

    QCOMPARE(fields(d.settings()), record);
    QCOMPARE(selection(d), selected);
    QCOMPARE(echoBox(d)->isChecked(), record.last().endsWith("true"));
    QCOMPARE(box(d, "serialPortInfoListBox")->isEditable(), portEditable);
    QCOMPARE(box(d, "baudRateBox")->isEditable(), baudEditable);
    for (const char *name : {"serialPortInfoListBox", "baudRateBox"}) {
        if (box(d, name)->isEditable())
            QCOMPARE(box(d, name)->currentText(), QString());
    }
    for (const char *name : {"dataBitsBox", "parityBox", "stopBitsBox", "flowControlBox"})
        QVERIFY2(!box(d, name)->isEditable(), name);

    if (file.isEmpty())
        QVERIFY2(!QFile::exists(testenv::iniFile()), "reading must not create the file");
}

void TestSettingsDialog::localEchoIsReadAsText_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("missing key") << QByteArray("[Default]\nPort=x\n") << true;
    QTest::newRow("false") << QByteArray("[Default]\nLocalEcho=false\n") << false;
    QTest::newRow("FALSE") << QByteArray("[Default]\nLocalEcho=FALSE\n") << false;
    QTest::newRow("0") << QByteArray("[Default]\nLocalEcho=0\n") << false;
    QTest::newRow("empty") << QByteArray("[Default]\nLocalEcho=\n") << false;
    QTest::newRow("yes") << QByteArray("[Default]\nLocalEcho=yes\n") << true;
    QTest::newRow("true") << QByteArray("[Default]\nLocalEcho=true\n") << true;
}

void TestSettingsDialog::localEchoIsReadAsText()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, enabled);
    writeIni(content);

    SettingsDialog d;
    echoBox(d)->setChecked(!enabled);
    d.readINI();

    QCOMPARE(d.settings().localEchoEnabled, enabled);
    QCOMPARE(echoBox(d)->isChecked(), enabled);
}

void TestSettingsDialog::unlistedBaudRateIsTypedWithinRange()
{
    writeIni("[Default]\nBaudRate=57600\n");
    SettingsDialog d;
    d.readINI();

    QComboBox *baud = box(d, "baudRateBox");
    QVERIFY(baud->isEditable());
    QCOMPARE(baud->currentText(), QString());
    auto *validator = qobject_cast<const QIntValidator *>(baud->lineEdit()->validator());
    QVERIFY(validator);
    QCOMPARE(validator->bottom(), 0);
    QCOMPARE(validator->top(), 4000000);

    QTest::keyClicks(baud->lineEdit(), "12a34-");
    QCOMPARE(baud->currentText(), QStringLiteral("1234"));
    baud->lineEdit()->clear();
    QTest::keyClicks(baud->lineEdit(), "400000099");
    QCOMPARE(baud->currentText(), QStringLiteral("4000000"));

    // Enter adds no item; the typed number is what gets saved.
    baud->lineEdit()->clear();
    QTest::keyClicks(baud->lineEdit(), "250000");
    QTest::keyClick(baud->lineEdit(), Qt::Key_Return);
    QCOMPARE(baud->count(), 4);
    d.saveINI();
    QCOMPARE(QSettings(testenv::iniFile(), QSettings::IniFormat).value("Default/BaudRate").toString(),
             QStringLiteral("250000"));

    // Picking a listed rate ends the typing.
    baud->setCurrentIndex(0);
    QVERIFY(!baud->isEditable());
    QCOMPARE(baud->currentText(), QStringLiteral("9600"));
}

void TestSettingsDialog::saveWritesTheBoxTextsNotNumbers()
{
    SettingsDialog d;
    d.readINI();
    choose(box(d, "serialPortInfoListBox"), "/tmp/fakeB");
    choose(box(d, "baudRateBox"), "38400");
    choose(box(d, "dataBitsBox"), "7");
    choose(box(d, "parityBox"), "Even");
    choose(box(d, "stopBitsBox"), "1.5");
    choose(box(d, "flowControlBox"), "RTS/CTS");
    echoBox(d)->setChecked(false);

    d.saveINI();

    QCOMPARE(readFile(testenv::iniFile()), golden("saved-chosen.ini"));
    QCOMPARE(fields(d.settings()), defaultFields()); // the record follows the file only on reload

    d.readINI();
    QCOMPARE(fields(d.settings()),
             fields("/tmp/fakeB", 38400, "38400", 7, "7", 2, "Even", 3, "1.5", 1, "RTS/CTS", false));
}

void TestSettingsDialog::saveWritesEmptyTextForBoxWithoutItem()
{
    SettingsDialog d;
    d.readINI(); // Com3 and N select nothing
    d.saveINI();

    QCOMPARE(readFile(testenv::iniFile()), golden("saved-boxes-without-item.ini"));

    d.readINI();
    QCOMPARE(fields(d.settings()), fields("", 9600, "9600", 8, "8", 0, "", 1, "1", 0, "None", true));
}

void TestSettingsDialog::portSelectionSurvivesSaveAndRefill()
{
    writeIni("[Default]\nPort=/tmp/fakeA\n");
    SettingsDialog d;
    d.readINI();
    choose(box(d, "serialPortInfoListBox"), "/tmp/fakeB");
    d.saveINI();

    // What a reopen does: rebuild the list, then reload.
    d.fillPortsInfo();
    QCOMPARE(box(d, "serialPortInfoListBox")->currentText(), QStringLiteral("/tmp/fakeA"));
    d.readINI();

    QCOMPARE(box(d, "serialPortInfoListBox")->currentText(), QStringLiteral("/tmp/fakeB"));
    QVERIFY(!box(d, "serialPortInfoListBox")->isEditable());
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeB"));
    QCOMPARE(d.settings().name, QStringLiteral("/tmp/fakeB"));
}

void TestSettingsDialog::typedPortName_data()
{
    QTest::addColumn<bool>("pressEnter");
    QTest::addColumn<QString>("saved");

    QTest::newRow("applied as typed") << false << "/tmp/typed";
    QTest::newRow("confirmed with Enter becomes an item and clears the text") << true << "";
}

void TestSettingsDialog::typedPortName()
{
    QFETCH(bool, pressEnter);
    QFETCH(QString, saved);

    writeIni("[Default]\nPort=COM9\n");
    SettingsDialog d;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.readINI();

    QComboBox *ports = box(d, "serialPortInfoListBox");
    QVERIFY(ports->isEditable());
    QCOMPARE(ports->currentText(), QString());
    QCOMPARE(detailLabels(d), detailsOf("/tmp/fakeA")); // left as they were

    QTest::keyClicks(ports->lineEdit(), "/tmp/typed");
    if (pressEnter) {
        QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
        QCOMPARE(ports->count(), 3);
        QCOMPARE(ports->currentIndex(), 2);
        QCOMPARE(ports->itemText(2), QStringLiteral("/tmp/typed"));
        QVERIFY(!ports->itemData(2).isValid());
        QCOMPARE(detailLabels(d), QStringList({"Description: N/A", "Manufacturer: N/A", "Serial number: N/A",
                                               "Location: N/A", "Vendor Identifier: N/A",
                                               "Product Identifier: N/A"}));
    } else {
        QCOMPARE(ports->count(), 2);
    }

    d.saveINI();
    QCOMPARE(QSettings(testenv::iniFile(), QSettings::IniFormat).value("Default/Port").toString(), saved);
}

void TestSettingsDialog::applyWithoutPortSavesEmptyPortHidesAndSignals()
{
    writeIni("[Default]\nPort=COM7\nBaudRate=9600\n");
    qputenv("TOLVANE_SERIAL_PORTS", "");
    BoxCatcher boxes;
    SettingsDialog d;
    QCOMPARE(boxes.count(), 1);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));

    QSignalSpy spy(&d, SIGNAL(sigSettingChange()));
    bool visibleAtSignal = true;
    QByteArray fileAtSignal;
    connect(&d, &SettingsDialog::sigSettingChange, this, [&] {
        visibleAtSignal = d.isVisible();
        fileAtSignal = readFile(testenv::iniFile());
    });

    QTest::mouseClick(d.findChild<QPushButton *>("applyButton"), Qt::LeftButton);

    QCOMPARE(spy.count(), 1);
    QVERIFY(!visibleAtSignal);
    QCOMPARE(fileAtSignal, golden("saved-apply-no-port.ini"));
    QVERIFY(d.isHidden());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(d.settings().name, QString()); // nothing reloaded
}

TOLVANE_TEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
