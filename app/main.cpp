#include "app/mainwindow.h"
#include "core/trace.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication a(argc, argv);
    const trace::HeldUntilIdle traces; // outlives the window, whose last traces it hands on
    MainWindow w;
    w.show();
    return a.exec();
}
