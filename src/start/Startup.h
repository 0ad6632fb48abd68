#pragma once
// Start-up and shutdown of the program: the one place that builds the main
// window and wires it to the modules.

#include <QString>

namespace ui {
class MainWindow;
}

namespace start {

// Builds the main window, hooks the start and end sequences to its load and
// unload events and runs the load (the start sequence) without showing it.
ui::MainWindow *basMain_LoadMainWindow();
// The program's entry: the real dialogs, the main window loaded, shown and centred.
void basMain_Main();
void basMain_ETCStart();
void basMain_GetScreen();
void basMain_Line3D();
void basMain_Initialize();
void basMain_ETCEnd();

// Ends the program through the end sequence when the session ends (logout,
// shutdown, a termination signal). Needs the application object.
void watchSessionEnd();
// What the end of a session does: closes the main window, whose unload runs
// the end sequence.
void endForSessionEnd();

// Takes the lock that makes this the only running instance of the program
// for this user, held until released or the process ends. Empty when taken;
// otherwise the warning to show: the second-instance text when a running
// instance holds the lock, or why the lock could not be taken.
QString acquireSingleInstance();
void releaseSingleInstance();

} // namespace start
