#include "ui/SettingsOperations.h"

#include "ui/ModalDialogs.h"
#include "ui/frmAbout.h"
#include "ui/frmMain.h"
#include "ui/frmSetComm.h"
#include "ui/frmSetSort.h"

void basMain_ShowSetSort()
{
    frmSetSort dialog(&form());
    runModal(dialog);
}

void basMain_ShowSetComm()
{
    frmSetComm dialog(&form());
    runModal(dialog);
}

void basMain_ShowAbout()
{
    frmAbout dialog(&form());
    runModal(dialog);
}
