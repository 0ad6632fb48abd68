#pragma once
// Start-up and shutdown of the program: the one place that builds the main
// window and wires it to the modules.

#include <QDate>
#include <QString>

namespace ui {
class MainWindow;
}

namespace start {

// Builds the main window, hooks the start and end sequences to its load and
// unload events and runs the load (the start sequence) without showing it.
// The caller owns the window; it is the one the end of a session closes
// (was basMain_LoadMainWindow).
ui::MainWindow *loadMainWindow();
// The main window loaded and shown where the user left it (else centred).
// The window deletes itself when closed; null when it could not be built.
ui::MainWindow *showMainWindow();
// The start sequence, run by the window's load (was basMain_ETCStart).
void startSequence(ui::MainWindow &window);
// Ends the program when the window does not fit the screen (was basMain_GetScreen).
void checkScreen(ui::MainWindow &window);
// The 3-D line under the menu bar (was basMain_Line3D).
void drawMenuLine(ui::MainWindow &window);
// The window's commands and labels as a start leaves them (was basMain_Initialize).
void initializeWindow(ui::MainWindow &window);
// The end sequence: the window's polling stopped and its place kept (when
// there is a window), the port and the databases closed, the instance lock
// released, the program ended (was basMain_ETCEnd).
void endSequence(ui::MainWindow *window);

// Ends the program through the end sequence when the session ends (logout,
// shutdown, a termination signal). Needs the application object.
void watchSessionEnd();
// What the end of a session does: closes the main window loadMainWindow
// built, whose unload runs the end sequence.
void endForSessionEnd();

// Takes the lock that makes this the only running instance of the program
// for this user, held until released or the process ends. Empty when taken;
// otherwise the warning to show: the second-instance text when a running
// instance holds the lock, or why the lock could not be taken.
QString acquireSingleInstance();

// The window's watch over the daily copy of the history: the day it was
// made for, and whether its failure was told.
struct DailyBackupWatch {
    QDate day;
    bool told = false;
};
// One look (the window makes one every few seconds): a new day starts the
// day's copy; a copy that failed is told once.
void dailyBackupTick(DailyBackupWatch &watch, const QString &historyPath);
void releaseSingleInstance();

} // namespace start
