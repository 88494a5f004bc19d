// Which lines from the projector are its echo, replies for the client, or only shown.
#include "core/serialreply.h"

#include <QTest>

Q_DECLARE_METATYPE(serialreply::Kind)

class TestSerialReply : public QObject
{
    Q_OBJECT

private slots:
    void classifiesLines_data();
    void classifiesLines();
};

void TestSerialReply::classifiesLines_data()
{
    using K = serialreply::Kind;
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("lastCommand");
    QTest::addColumn<K>("kind");

    QTest::newRow("echo of the command") << "op status ?\r\n" << "op status ?" << K::Echo;
    QTest::newRow("echo with the command inside") << "op status ? ok\r\n" << "op status ?" << K::Echo;
    QTest::newRow("reply in capitals") << "OP STATUS=1\r\n" << "op status ?" << K::Reply;
    QTest::newRow("reply in mixed case") << "Op status=1\r\n" << "op status ?" << K::Reply;
    QTest::newRow("echo test is case-sensitive") << "OP STATUS ?\r\n" << "op status ?" << K::Reply;
    QTest::newRow("reply to another command") << "op power=1\r\n" << "op status ?" << K::Reply;
    QTest::newRow("before any command every op line is an echo") << "OP POWER=1\r\n" << "" << K::Echo;
    QTest::newRow("non-op line") << "READY\r\n" << "op status ?" << K::Other;
    QTest::newRow("non-op line before any command") << "READY\r\n" << "" << K::Other;
    QTest::newRow("empty line") << "\r\n" << "op status ?" << K::Other;
    QTest::newRow("op without blank") << "op\r\n" << "op status ?" << K::Other;
    QTest::newRow("leading blank is not op") << " OP STATUS=1\r\n" << "op status ?" << K::Other;
    QTest::newRow("text cut at NUL still a reply") << "OP NAME=" << "op name ?" << K::Reply;
}

void TestSerialReply::classifiesLines()
{
    QFETCH(QString, line);
    QFETCH(QString, lastCommand);
    QFETCH(serialreply::Kind, kind);
    QCOMPARE(serialreply::classify(line, lastCommand), kind);
}

QTEST_APPLESS_MAIN(TestSerialReply)
#include "tst_serialreply.moc"
