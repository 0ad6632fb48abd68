#include "ui/SettingsOperations.h"

#include "ui/ModalDialogs.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/PortSettingsDialog.h"
#include "ui/SortDialog.h"

namespace ui {

void basMain_ShowSetSort()
{
    SortDialog dialog(&form());
    runModal(dialog);
}

void basMain_ShowSetComm()
{
    PortSettingsDialog dialog(&form());
    runModal(dialog);
}

void basMain_ShowAbout()
{
    AboutDialog dialog(&form());
    runModal(dialog);
}

} // namespace ui
