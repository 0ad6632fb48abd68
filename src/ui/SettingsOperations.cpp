#include "ui/SettingsOperations.h"

#include "ui/ModalDialogs.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/PortSettingsDialog.h"
#include "ui/SortDialog.h"

namespace ui {

void showSortDialog(MainWindow &window)
{
    SortDialog dialog(window);
    runModal(dialog);
}

void showPortSettings(MainWindow &window)
{
    PortSettingsDialog dialog(window);
    runModal(dialog);
}

void showAbout(MainWindow &window)
{
    AboutDialog dialog(&window);
    runModal(dialog);
}

} // namespace ui
