// Traces held until the event loop waits: nothing lost, nothing out of order. The unattended bridge's
// log lines: one per event, the journal's prefix only when stderr is the journal.
#include "core/servicelog.h"
#include "core/trace.h"

#include <QThread>
#include <QtTest>

namespace {
QStringList passedOn;
void capture(QtMsgType, const QMessageLogContext &, const QString &text) { passedOn << text; }
} // namespace

class TestTrace : public QObject
{
    Q_OBJECT

private slots:
    void heldUntilIdle()
    {
        const QtMessageHandler original = qInstallMessageHandler(capture);
        {
            const trace::HeldUntilIdle held;
            qDebug("a");
            const int line = __LINE__ + 1;
            TRACE << QByteArray("b");
            QVERIFY(passedOn.isEmpty());
            qWarning("c"); // hands on what is held first
            const QString b = QStringLiteral("tests/tst_trace.cpp/%1(heldUntilIdle): \"b\"").arg(line);
            QCOMPARE(passedOn, QStringList({"a", b, "c"}));

            passedOn.clear();
            qDebug("d");
            QVERIFY(passedOn.isEmpty());
            QEventLoop loop;
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
            loop.exec(); // waits once
            QCOMPARE(passedOn, QStringList{"d"});

            passedOn.clear();
            qDebug("e");
            QThread *other = QThread::create([] { qDebug("f"); });
            other->start();
            QVERIFY(other->wait(10000));
            delete other;
            QCOMPARE(passedOn, QStringList({"e", "f"}));

            passedOn.clear();
            qDebug("g");
        }
        QCOMPARE(passedOn, QStringList{"g"}); // handed on at the end
        qDebug("h");
        QCOMPARE(passedOn, QStringList({"g", "h"})); // and the handler is back
        qInstallMessageHandler(original);
    }

    void serviceLogLines_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("journal");
        QTest::addColumn<QString>("line");
        QTest::newRow("a box") << "Critical Error"
                               << "Input/output error" << false << "Critical Error: Input/output error";
        QTest::newRow("to the journal") << "Serial Port"
                                        << "gone" << true << "<4>Serial Port: gone";
        QTest::newRow("traffic, line ends") << ""
                                            << ">>>op status ?\r\n"
                                            << false << ">>>op status ?";
        QTest::newRow("a line end inside") << ""
                                           << "a\rb\nc" << false << "a b c";
    }
    void serviceLogLines()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(bool, journal);
        QFETCH(QString, line);
        const auto priority = title == QLatin1String("Serial Port") ? servicelog::Warning : servicelog::Error;
        QCOMPARE(servicelog::line(priority, title, text, journal), line);
    }

    void journalNamesItsStream()
    {
        QVERIFY(servicelog::isJournal("8:123456", 8, 123456));
        QVERIFY(!servicelog::isJournal("8:123456", 8, 123457)); // stderr went elsewhere
        QVERIFY(!servicelog::isJournal("", 0, 0));
        QVERIFY(!servicelog::isJournal("8:x", 8, 0));
        QVERIFY(!servicelog::isJournal("8:1:2", 8, 1));
    }
};

QTEST_GUILESS_MAIN(TestTrace)
#include "tst_trace.moc"
