// What a bridge without a serial port answers by itself.
#include "core/localanswer.h"

#include <QTest>

class TestLocalAnswer : public QObject
{
    Q_OBJECT

private slots:
    void answersFromTheCommandText_data();
    void answersFromTheCommandText();
};

void TestLocalAnswer::answersFromTheCommandText_data()
{
    QTest::addColumn<QString>("terminated");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("model query") << "op model ?\r\n" << QByteArray("OP MODEL=KT5520M");
    QTest::newRow("serial number query") << "op ser.no ?\r\n" << QByteArray("OP SER.NO=ABC-1234567");
    QTest::newRow("model query after other text") << "hello op model ?\r\n" << QByteArray("OP MODEL=KT5520M");
    QTest::newRow("both identities: model wins") << "op ser.no ? op model ?\r\n" << QByteArray("OP MODEL=KT5520M");
    QTest::newRow("upper case query is generic") << "OP MODEL ?\r\n" << QByteArray("OP MODEL =NA");
    QTest::newRow("no blank before ? is generic") << "op model?\r\n" << QByteArray("op model=NA");
    QTest::newRow("status keeps the blank before ?") << "op status ?\r\n" << QByteArray("op status =NA");
    QTest::newRow("every ? removed") << "op a?b ??\r\n" << QByteArray("op ab =NA");
    QTest::newRow("empty text") << "\r\n" << QByteArray("=NA");
    QTest::newRow("inner white space simplified") << "op  input \t = HDMI1\r\n" << QByteArray("op input = HDMI1=NA");
    QTest::newRow("not a command") << "hello\r\n" << QByteArray("hello=NA");
    QTest::newRow("non-ASCII answered in UTF-8") << QString::fromUtf8("op n\xc3\xa4me ?\r\n")
                                                 << QByteArray("op n\xc3\xa4me =NA");
}

void TestLocalAnswer::answersFromTheCommandText()
{
    QFETCH(QString, terminated);
    QFETCH(QByteArray, answer);
    QCOMPARE(localanswer::answer(terminated), answer);
}

QTEST_APPLESS_MAIN(TestLocalAnswer)
#include "tst_localanswer.moc"
