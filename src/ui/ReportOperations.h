#pragma once
#include "history/ViewCondition.h"
#include "ui/Progress.h"
// The main window's reports: the printer list, the standard print (the A4
// statement on a printer or into a PDF file) and the CSV export.

#include <QString>
#include <functional>

class QPagedPaintDevice;
class QPrinter;

namespace ui {

class MainWindow;

inline const QString kNoPrinter = QStringLiteral("インストールされていません");
// The entry of the printer list that writes the statement into a PDF file.
inline const QString kPdfFilePrinter = QStringLiteral("PDFファイル");

// Start-up: fills cboPrinter with the installed printers, the default one
// selected (was basMain_GetPrinter).
void fillPrinterList(MainWindow &window);
// 標準印刷 (btnPrintDefault, mnuPrintDefault; was basMain_PrintDefult).
void printStatement(MainWindow &window);
// CSV出力 (btnCSVOutput, mnuCSVOutput; was basMain_CSVOutput).
void exportCsv(MainWindow &window);

// Another report on the printer chosen in the main window's list: into a
// PDF file the user names (its dialog suggests pdfName in the CSV folder),
// or, after the print question naming what, onto the printer or into the
// preview. paint draws every page onto the device it is given (A4 landscape
// already set); false from it means the device refused the job. True when
// the pages were printed or written; false when the user stopped or has been
// warned.
bool printOnChosenPrinter(MainWindow &window, const QString &what, const QString &pdfName,
                          const std::function<bool(QPagedPaintDevice &)> &paint,
                          QString *written = nullptr);

// The real printer list (QPrinterInfo), for the start of the program.
void installRealPrinterList();
// The real print question (Yes, No and a preview button), for the start of the program.
void installRealPrintQuestion();

// Shows the statement's preview on printer; paint draws the pages onto the
// printer it is given. True if the user printed from the preview. An empty
// handler restores the real modal QPrintPreviewDialog.
using PreviewHandler = std::function<bool(QPrinter &printer, const std::function<void(QPrinter *)> &paint)>;
void setPreviewHandler(PreviewHandler handler);

// The folder a file dialog last went to (key: "PdfPath", "ImportPath" in
// [PASSLOG]), kept across runs; fallback when none is kept or it is gone.
QString rememberedFolder(const QString &key, const QString &fallback);
void rememberFolderOf(const QString &key, const QString &file);

// " … に保存しました。" on a line of its own: where a completed file went.
QString savedToLine(const QString &path);
// A file name that says what, of which card and period the view shows:
// "利用履歴_1234_20240501-20240531.csv", "…_全カード_全期間.pdf".
// card: the card number the file holds when the caller knows it (a card
// read written under the number typed for it); else the view's.
QString suggestedFileName(const history::ViewQuery &view, const QString &what, const QString &extension,
                          const QString &card = QString());

} // namespace ui
