#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <functional>

// Catches every message box as it opens, records it and closes it, so tests can assert on boxes
// and never hang on one.
class BoxCatcher : public QObject
{
    Q_OBJECT

public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget *parent = nullptr;
        QString parentClass; // class name of the parent, empty for none
    };

    BoxCatcher();
    ~BoxCatcher() override;

    QList<Box> boxes;
    std::function<void(const Box &)> whileOpen; // runs inside the open box's event loop

    int count() const { return boxes.size(); }
    Box last() const { return boxes.isEmpty() ? Box() : boxes.last(); }
    void clear() { boxes.clear(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
