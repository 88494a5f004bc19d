#pragma once

#include <QDebug>
#include <QObject>

// Developer traces: "<source path>/<line>(<function>): items...", through Qt's debug stream.
// The build maps __FILE__ to a path relative to the source tree.
namespace trace {
QDebug at(const char *file, int line, const char *function);

// While one lives, debug messages of the thread that made it are held and handed to the message
// handler it replaced when that thread's event loop is about to wait, so a byte on its way through
// the bridge never waits for stderr. Any other message (a warning, or one from another thread) hands
// on what is held first, so the order stays; so does the end of its life. Make it after the
// application object: it needs the thread's event dispatcher.
class HeldUntilIdle
{
public:
    HeldUntilIdle();
    ~HeldUntilIdle();
    HeldUntilIdle(const HeldUntilIdle &) = delete;
    HeldUntilIdle &operator=(const HeldUntilIdle &) = delete;

    // Hands on what is held now.
    static void release();

private:
    QMetaObject::Connection idle;
};
} // namespace trace

#define TRACE trace::at(__FILE__, __LINE__, __func__)
