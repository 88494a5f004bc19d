// The serial line's health checks, on a pseudo-terminal played by the test: which answers mean a lost
// device, and putting Qt's watching of the line right.
#include "app/roadevents.h"
#include "app/serialline.h"
#include "tests/support/ptydevice.h"
#include "tests/support/testenv.h"

#include <QSignalSpy>

#include <poll.h>

class TestSerialLine : public QObject
{
    Q_OBJECT

private slots:
    // A real line, asked: a pseudo-terminal is alive until its other end goes away.
    void theLineIsAsked()
    {
        PtyDevice device;
        QSerialPort port(device.slavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QVERIFY(serialline::lineAnswers(&port));
        device.unplug();
        QVERIFY(!serialline::lineAnswers(&port));
    }

    // Which errors are news, on a live line, a dead one and a closed port; a loss once, reported only
    // when no traffic handler is running, and over when the port is closed.
    void aLossIsNewsOnceAndWaitsForTheHandlers()
    {
        PtyDevice device;
        QSerialPort port(device.slavePath());
        RoadEvents road;
        SerialLine line(&port, &road);
        QVERIFY(port.open(QIODevice::ReadWrite));
        QVERIFY(!line.isNews(QSerialPort::ResourceError)); // a read that found nothing yet
        QVERIFY(!line.isNews(QSerialPort::ReadError));
        QVERIFY(!line.isNews(QSerialPort::WriteError));

        device.unplug();
        QVERIFY(line.isNews(QSerialPort::ReadError));
        QVERIFY(line.isLost() && !line.lossText().isEmpty());
        QVERIFY(!line.isNews(QSerialPort::ReadError)); // once per loss

        int reported = 0;
        {
            const RoadEvents::Handling handling(&road);
            line.reportLoss([&] { ++reported; });
            QCOMPARE(reported, 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(reported, 1, testenv::patience);

        line.close();
        QVERIFY(!port.isOpen() && !line.isLost());
        line.reportLoss([&] { ++reported; }); // the loss is over
        QVERIFY(line.isNews(QSerialPort::ResourceError));
        QVERIFY(!line.isNews(QSerialPort::ReadError));
        QCOMPARE(reported, 1);
    }

    // Silencing a hung-up line reaches into Qt's insides: if Qt changes them, this says so first.
    // Watching again is public API and must undo it.
    void readsQuietedAndResumed()
    {
        PtyDevice device;
        QSerialPort port(device.slavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QSignalSpy readyRead(&port, &QSerialPort::readyRead);

        QVERIFY2(serialline::quietReads(&port) > 0, "no read watcher found in QSerialPort: Qt's insides changed");
        QVERIFY(device.send("OP STATUS=1\r\n"));
        // Once the line is readable, a watched line would be announced within these turns.
        pollfd readable{port.handle(), POLLIN, 0};
        QCOMPARE(::poll(&readable, 1, testenv::patience), 1);
        for (int turn = 0; turn < 100; ++turn)
            QCoreApplication::processEvents();
        QCOMPARE(readyRead.count(), 0);

        serialline::resumeReads(&port);
        QTRY_VERIFY_WITH_TIMEOUT(readyRead.count() > 0, testenv::patience);
        QCOMPARE(port.readAll(), QByteArray("OP STATUS=1\r\n"));
    }
};

TOLVANE_TEST_MAIN(TestSerialLine)
#include "tst_serialline.moc"
