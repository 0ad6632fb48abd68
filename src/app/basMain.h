#pragma once
// Start-up and shutdown of the program.

class QApplication;

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
