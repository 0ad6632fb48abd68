#pragma once
// Which printers the system has, and the print question with its preview
// offer, behind replaceable functions: the real printer list needs the print
// support of the window layer, and tests fake none, one or several printers.

#include "app/Seams.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace seams {

struct PrinterList {
    QStringList names;  // device names in the order the system lists them
    QString defaultName; // the system's default printer, empty when none
};

// An empty handler means no printer is installed.
using PrinterListHandler = std::function<PrinterList()>;
void setPrinterListHandler(PrinterListHandler handler);
PrinterList installedPrinters();

// The print question: the Yes/No message box, whose real form also offers a
// preview. Without a handler it is the plain question of showMessageBox.
enum class PrintAnswer { Print, Preview, Stop };
using PrintQuestionHandler = std::function<PrintAnswer(const Message &question)>;
void setPrintQuestionHandler(PrintQuestionHandler handler);
PrintAnswer askPrintQuestion(const QString &text);

} // namespace seams
