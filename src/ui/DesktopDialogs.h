#pragma once

namespace ui {

// The real message box, save-file dialog, printer list and print question
// behind the seams of app/Seams.h and app/PrinterSeam.h.
// The program installs them at start; tests install their own answers.

void installDesktopDialogs();

} // namespace ui
