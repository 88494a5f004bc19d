// Traces held until the event loop waits: nothing lost, nothing out of order.
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
};

QTEST_GUILESS_MAIN(TestTrace)
#include "tst_trace.moc"
