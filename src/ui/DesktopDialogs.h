#pragma once
// The real message box and save-file dialog behind the seams of app/Seams.h.
// The program installs them at start; tests install their own answers.

void installDesktopDialogs();
