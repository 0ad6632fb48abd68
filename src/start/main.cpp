#include "start/basMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PASSLOG"));
    basMain_Main();
    return app.exec();
}
