// The system's printers and the print question with its preview button:
// the real handlers of the printer seams, which need the print support and
// the widgets of this layer.

#include "app/PrinterSeam.h"
#include "app/Common.h"
#include "ui/ReportOperations.h"

#include <QApplication>
#include <QMessageBox>
#include <QPrinterInfo>
#include <QPushButton>

namespace ui {

void installRealPrinterList()
{
    seams::setPrinterListHandler([] {
        return seams::PrinterList{QPrinterInfo::availablePrinterNames(), QPrinterInfo::defaultPrinterName()};
    });
}

void installRealPrintQuestion()
{
    seams::setPrintQuestionHandler([](const seams::Message &question) {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(question.title);
        box.setText(question.text);
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        QPushButton *preview = box.addButton(QStringLiteral("プレビュー"), QMessageBox::ActionRole);
        box.setDefaultButton(QMessageBox::Yes);
        box.setModal(true);
        box.exec();
        if (box.clickedButton() == preview)
            return seams::PrintAnswer::Preview;
        return box.clickedButton() == box.button(QMessageBox::Yes) ? seams::PrintAnswer::Print
                                                                   : seams::PrintAnswer::Stop;
    });
}

} // namespace ui
