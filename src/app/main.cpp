#include "app/main_window.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    app::MainWindow window;
    window.exec();
    return 0;
}
