#include "ui/Commands.h"

#include "app/basGlobal.h"
#include "history/ViewCondition.h"
#include "history/basAccess.h"
#include "history/basAccessGrid.h"
#include "ui/frmMain.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {
frmMain &form() { return *frmMain::instance(); }
constexpr int kPollingIntervalMs = 1000;
} // namespace

void disableOutputCommands()
{
    frmMain &f = form();
    for (QPushButton *b : {f.btnPrintDefault, f.btnPrintDesktop, f.btnCSVOutput})
        b->setEnabled(false);
    for (QAction *a : {f.mnuPrintDefault, f.mnuPrintDesktop, f.mnuCSVOutput})
        a->setEnabled(false);
}

void enableOutputCommands()
{
    frmMain &f = form();
    f.btnPrintDefault->setEnabled(true);
    f.mnuPrintDefault->setEnabled(true);
    if (intRelayMode == 2) {
        f.btnPrintDesktop->setEnabled(true);
        f.mnuPrintDesktop->setEnabled(true);
    }
    f.btnCSVOutput->setEnabled(true);
    f.mnuCSVOutput->setEnabled(true);
}

void emptyStagingAndGrid()
{
    basAccess_MDBTBLOpen(basAccess_MakeHFGSQL(kTableTemp, QStringLiteral("FORMAT")));
    basAccess_MDBtoMSHFlexGrid(kTableTemp, 0);
}

void enableDBReadIfHistory()
{
    if (basAccess_MDBTBLCheck(kTableData))
        form().btnDBRead->setEnabled(true);
}

void restartPolling() { form().TimerPolling->start(kPollingIntervalMs); }

void selectAllCardsFromList()
{
    frmMain &f = form();
    f.optCardNo[1]->setChecked(true);
    f.cboCardSelect->setCurrentIndex(0);
}

void useAllCardsIfNothingTyped()
{
    frmMain &f = form();
    if (f.optCardNo[0]->isChecked() && f.txtCardInput->text().isEmpty())
        selectAllCardsFromList();
}
