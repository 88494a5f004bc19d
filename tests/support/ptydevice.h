#pragma once

// A projector played by the test: the master side of a pseudo-terminal. The bridge opens the slave
// path like any serial port; the test reads exactly what reached the line and writes exact bytes back.
// Header-only, POSIX (tests only).

#include <QByteArray>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

class PtyDevice
{
public:
    PtyDevice()
    {
        int slave = -1;
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave); // only the bridge holds the slave open, as with a real port
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        path = QString::fromLocal8Bit(name);
    }
    ~PtyDevice() { unplug(); }
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;

    bool isValid() const { return master >= 0; }
    QString slavePath() const { return path; }
    // A link to the terminal under this name, as /dev/serial/by-id names a real adapter; empty on failure.
    QString linkAs(const QString &name) const
    {
        QFile::remove(name);
        return QFile::link(path, name) ? name : QString();
    }

    // Everything the bridge wrote to the line so far (reads what is pending, never blocks).
    QByteArray received()
    {
        char buffer[4096];
        ssize_t n = 0;
        while (master >= 0 && (n = ::read(master, buffer, sizeof buffer)) > 0)
            got.append(buffer, int(n));
        return got;
    }
    bool send(const QByteArray &bytes)
    {
        return master >= 0 && ::write(master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // As much of the bytes as the line takes now (it holds a few KiB until the bridge reads); how many.
    qint64 sendSome(const QByteArray &bytes)
    {
        const ssize_t n = master >= 0 ? ::write(master, bytes.constData(), size_t(bytes.size())) : -1;
        return n > 0 ? qint64(n) : 0;
    }
    // The line settings the bridge applied (the master reports the slave's termios).
    bool attributes(termios *t) const { return master >= 0 && ::tcgetattr(master, t) == 0; }

    // The cable pulled: the line hangs up under the bridge.
    void unplug()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

private:
    int master = -1;
    QString path;
    QByteArray got;
};
