#include "start/Startup.h"
#include "start/CommandLine.h"
#include "start/Demo.h"

#include "app/ProgramIcon.h"
#include "app/Seams.h"
#include "ui/DesktopDialogs.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <optional>

int main(int argc, char *argv[])
{
    if (const std::optional<int> answered = start::answerCommandLine(argc, argv))
        return *answered;
    QApplication app(argc, argv);
    start::setApplicationInfo();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(app::programIcon(size)));
    QApplication::setWindowIcon(icon);
    start::watchSessionEnd();
    const bool demo = QCoreApplication::arguments().contains(QStringLiteral("--") + start::demoOption().names().at(0));
    if (demo) {
        auto *session = new start::DemoSession(&app);
        if (const QString refused = session->start(start::findDemoFiles(start::demoFolders())); !refused.isEmpty()) {
            std::fputs(qPrintable(QStringLiteral("デモを開始できません: ") + refused + QLatin1Char('\n')), stderr);
            return 1;
        }
        // A start refused (a screen too small, a second instance) ends at
        // once: the demo's emulator and history go with it.
        seams::setProgramEndHandler([session](int) { session->stop(); });
    }
    ui::installDesktopDialogs();
    ui::MainWindow *window = start::showMainWindow();
    if (demo) {
        start::markDemoWindow(window);
        start::readCardAndQuitWhenAsked(window);
    }
    // For the start-up benchmark: end normally once the window is shown.
    if (qEnvironmentVariableIsSet("PASSLOG_QUIT_WHEN_SHOWN"))
        QTimer::singleShot(0, &app, [] { start::endForSessionEnd(); });
    return app.exec();
}
