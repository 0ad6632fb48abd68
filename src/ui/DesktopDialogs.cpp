#include "ui/DesktopDialogs.h"

#include "app/Seams.h"
#include "ui/ReportOperations.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

seams::MsgAnswer realMessageBox(const seams::Message &m)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(m.title);
    box.setText(m.text);
    switch (m.icon) {
    case seams::MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case seams::MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case seams::MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    switch (m.buttons) {
    case seams::MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case seams::MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case seams::MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    box.setModal(true);
    switch (box.exec()) {
    case QMessageBox::Yes: return seams::MsgAnswer::Yes;
    case QMessageBox::No: return seams::MsgAnswer::No;
    case QMessageBox::Cancel: return seams::MsgAnswer::Cancel;
    default: return m.buttons == seams::MsgButtons::YesNo ? seams::MsgAnswer::No : seams::MsgAnswer::Ok;
    }
}

QString realSaveFileDialog(const QString &caption, const QString &initialPath, const QString &filter)
{
    // The overwrite question is the program's own (Yes / No to append / Cancel).
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, initialPath, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

} // namespace

void installDesktopDialogs()
{
    seams::setMessageBoxHandler(realMessageBox);
    seams::setSaveFileHandler(realSaveFileDialog);
    installRealPrinterList();
    installRealPrintQuestion();
}
