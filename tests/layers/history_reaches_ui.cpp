// Must not compile: the history lies below the windows and cannot see them.
// The layering test builds this file and expects the build to fail.
#include "ui/MainWindow.h"

int historyReachesUi() { return ui::MainWindow::kClientWidth; }
