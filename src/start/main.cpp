#include "start/basMain.h"
#include "start/CommandLine.h"

#include "app/ProgramIcon.h"
#include "app/Seams.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <optional>

int main(int argc, char *argv[])
{
    if (const std::optional<int> answered = answerCommandLine(argc, argv))
        return *answered;
    QApplication app(argc, argv);
    setApplicationInfo();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(programIcon(size)));
    QApplication::setWindowIcon(icon);
    watchSessionEnd();
    basMain_Main();
    // For the start-up benchmark: end normally once the window is shown.
    if (qEnvironmentVariableIsSet("PASSLOG_QUIT_WHEN_SHOWN"))
        QTimer::singleShot(0, &app, [] { endForSessionEnd(); });
    return app.exec();
}
