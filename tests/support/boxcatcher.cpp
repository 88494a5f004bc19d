#include "tests/support/boxcatcher.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>

BoxCatcher::BoxCatcher() { qApp->installEventFilter(this); }

BoxCatcher::~BoxCatcher() { qApp->removeEventFilter(this); }

bool BoxCatcher::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = event->type() == QEvent::Show ? qobject_cast<QMessageBox *>(watched) : nullptr;
    if (box) {
        Box b{box->windowTitle(), box->text(), box->icon(), box->parentWidget(), QString()};
        if (b.parent)
            b.parentClass = QString::fromLatin1(b.parent->metaObject()->className());
        boxes.append(b);
        // Closed from inside the box's own event loop, after whatever the test wants done there.
        QTimer::singleShot(0, box, [this, guard = QPointer<QMessageBox>(box), b] {
            if (whileOpen)
                whileOpen(b);
            if (guard)
                guard->done(QMessageBox::Ok);
        });
    }
    return QObject::eventFilter(watched, event);
}
