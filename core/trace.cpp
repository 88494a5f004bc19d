#include "core/trace.h"

#include <QAbstractEventDispatcher>
#include <QRecursiveMutex>
#include <QThread>

#include <vector>

namespace trace {

QDebug at(const char *file, int line, const char *function)
{
    QDebug d = qDebug();
    d.noquote().nospace() << file << '/' << line << '(' << function << "):";
    d.space().quote();
    return d;
}

namespace {

// The context's strings are the sources' own literals, so keeping the pointers is safe.
struct Held {
    QtMsgType type;
    const char *file;
    int line;
    const char *function;
    const char *category;
    QString text;
};

QRecursiveMutex lock; // recursive: a handler handed a message may log again
std::vector<Held> held;
QtMessageHandler handOn = nullptr;
QThread *holder = nullptr;

void hold(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    QMutexLocker locker(&lock);
    if (type == QtDebugMsg && QThread::currentThread() == holder) {
        held.push_back(Held{type, context.file, context.line, context.function, context.category, text});
        return;
    }
    HeldUntilIdle::release();
    handOn(type, context, text);
}

} // namespace

HeldUntilIdle::HeldUntilIdle()
{
    QMutexLocker locker(&lock);
    holder = QThread::currentThread();
    handOn = qInstallMessageHandler(hold);
    if (auto *dispatcher = QAbstractEventDispatcher::instance())
        idle = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &HeldUntilIdle::release);
}

HeldUntilIdle::~HeldUntilIdle()
{
    QMutexLocker locker(&lock);
    QObject::disconnect(idle);
    release();
    qInstallMessageHandler(handOn);
    holder = nullptr;
}

void HeldUntilIdle::release()
{
    QMutexLocker locker(&lock);
    std::vector<Held> out;
    out.swap(held);
    for (const Held &h : out) {
        const QMessageLogContext context(h.file, h.line, h.function, h.category);
        handOn(h.type, context, h.text);
    }
}

} // namespace trace
