#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>

// Catches every message box as it opens, records it and closes it, so tests can assert on boxes
// and never hang on one.
class BoxCatcher : public QObject
{
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget *parent = nullptr;
        QString parentClass; // class name of the parent, empty for none
    };

    QList<Box> boxes;
    std::function<void(const Box &)> whileOpen; // runs inside the open box's event loop

    BoxCatcher() { qApp->installEventFilter(this); }
    ~BoxCatcher() override { qApp->removeEventFilter(this); }
    int count() const { return boxes.size(); }
    Box last() const { return boxes.isEmpty() ? Box() : boxes.last(); }
    void clear() { boxes.clear(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = event->type() == QEvent::Show ? qobject_cast<QMessageBox *>(watched) : nullptr;
        if (box) {
            QWidget *parent = box->parentWidget();
            const Box b{box->windowTitle(), box->text(), box->icon(), parent,
                        parent ? QString::fromLatin1(parent->metaObject()->className()) : QString()};
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
};
