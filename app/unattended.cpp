#include "app/unattended.h"

#include "app/mainwindow.h"
#include "app/reopener.h"
#include "app/roadevents.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

Unattended::Unattended(bool logTraffic, QObject *parent)
    : QObject(parent)
    , logTraffic(logTraffic)
    , journal(stderrIsJournal())
{
    qApp->installEventFilter(this);
}

Unattended::~Unattended() { qApp->removeEventFilter(this); }

bool Unattended::stderrIsJournal()
{
#ifdef Q_OS_UNIX
    struct stat st {
    };
    return ::fstat(2, &st) == 0
        && servicelog::isJournal(qgetenv("JOURNAL_STREAM"), quint64(st.st_dev), quint64(st.st_ino));
#else
    return false;
#endif
}

void Unattended::attach(MainWindow *window)
{
    window->stopPanes();
    if (window->isSerialOpen())
        boxesSinceOpen.clear();
    const RoadEvents *road = window->events();
    connect(road, &RoadEvents::portWaiting, this, [this](const QString &port) {
        write(servicelog::Warning, QStringLiteral("Serial Port"), QStringLiteral("waiting for %1").arg(port));
    });
    connect(road, &RoadEvents::portOpened, this, [this](const QString &, const QString &settings) {
        boxesSinceOpen.clear();
        write(servicelog::Notice, QStringLiteral("Serial Port"), settings);
    });
    new Reopener(window);
    if (!logTraffic)
        return;
    connect(window->events(), &RoadEvents::trafficLine, this, [this](RoadEvents::Pane pane, const QString &line) {
        write(servicelog::Info, pane == RoadEvents::TcpPane ? QStringLiteral("tcp") : QStringLiteral("serial"), line);
    });
}

bool Unattended::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = event->type() == QEvent::Show ? qobject_cast<QMessageBox *>(watched) : nullptr;
    if (box) {
        const servicelog::Priority priority = box->icon() == QMessageBox::Critical ? servicelog::Error
            : box->icon() == QMessageBox::Warning                                  ? servicelog::Warning
                                                                                   : servicelog::Notice;
        const QString line = servicelog::line(priority, box->windowTitle(), box->text(), journal);
        if (!boxesSinceOpen.contains(line)) {
            boxesSinceOpen.insert(line);
            writeLine(line);
        }
        // Closed from inside its own loop, at that loop's first turn.
        QTimer::singleShot(0, box, [guard = QPointer<QMessageBox>(box)] {
            if (guard)
                guard->done(QMessageBox::Ok);
        });
    }
    return QObject::eventFilter(watched, event);
}

void Unattended::write(servicelog::Priority priority, const QString &title, const QString &text)
{
    writeLine(servicelog::line(priority, title, text, journal));
}

void Unattended::writeLine(const QString &line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}
