#pragma once
// Start-up and shutdown of the program: the one place that builds the main
// window and wires it to the modules.

class frmMain;

// Builds the main window, hooks the start and end sequences to its load and
// unload events and runs the load (the start sequence) without showing it.
frmMain *basMain_LoadMainWindow();
// The program's entry: the real dialogs, the main window loaded, shown and centred.
void basMain_Main();
void basMain_ETCStart();
void basMain_GetScreen();
void basMain_Line3D();
void basMain_Initialize();
void basMain_ETCEnd();

// True if this is the only running instance of the program for this user;
// the lock is held until the process ends.
bool acquireSingleInstance();
void releaseSingleInstance();
