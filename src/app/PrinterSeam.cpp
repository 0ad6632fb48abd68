#include "app/PrinterSeam.h"

#include "app/Common.h"

namespace seams {
namespace {
PrinterListHandler g_printers;
PrintQuestionHandler g_printQuestion;
} // namespace

void setPrinterListHandler(PrinterListHandler handler) { g_printers = std::move(handler); }
PrinterList installedPrinters() { return g_printers ? g_printers() : PrinterList{}; }

void setPrintQuestionHandler(PrintQuestionHandler handler) { g_printQuestion = std::move(handler); }
PrintAnswer askPrintQuestion(const QString &text)
{
    const Message question{MsgIcon::Information, MsgButtons::YesNo, kAppTitle, text};
    if (g_printQuestion)
        return g_printQuestion(question);
    return showMessageBox(question) == MsgAnswer::Yes ? PrintAnswer::Print : PrintAnswer::Stop;
}

} // namespace seams
