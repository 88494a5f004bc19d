#include "boxcatcher.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

BoxCatcher::BoxCatcher()
{
    qApp->installEventFilter(this);
}

BoxCatcher::~BoxCatcher()
{
    qApp->removeEventFilter(this);
}

bool BoxCatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            Box b;
            b.title = box->windowTitle();
            b.text = box->text();
            b.icon = box->icon();
            b.parent = box->parentWidget();
            if (b.parent)
                b.parentClass = QString::fromLatin1(b.parent->metaObject()->className());
            boxes.append(b);
            QPointer<QMessageBox> guard(box);
            // Close from inside the box's own event loop, after whatever the test wants done there.
            QTimer::singleShot(0, box, [this, guard, b] {
                if (whileOpen)
                    whileOpen(b);
                if (guard)
                    guard->done(QMessageBox::Ok);
            });
        }
    }
    return QObject::eventFilter(watched, event);
}
