// The printer list, the standard print and the CSV export of the main window.

#include "ui/ReportOperations.h"
#include "app/RunSettings.h"

#include "app/CheckedSaveFile.h"
#include "app/PrinterSeam.h"
#include "app/Settings.h"
#include "app/Common.h"
#include "app/ProfileFile.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "reports/CsvExport.h"
#include "reports/StatementPdf.h"
#include "reports/StatementPrint.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QRadioButton>
#include <QScreen>
#include <memory>

namespace ui {

namespace {

const QString kAllCards = QStringLiteral("0000");
const QString kCrLf = QStringLiteral("\r\n");
const QString kDocumentName = QStringLiteral("PASSLOG");
const QString kSameNameExists = QStringLiteral("同名のファイルが既に存在します。") +
                                QStringLiteral("下記ファイルに上書きを行いますか?");

// The printer the last job chose; empty: the system default.
// The file names chosen last stay with the window, like the file name of its
// common dialog: the next dialog starts with them.
const char *const kLastCsvFile = "CommonDialog.FileName";
const char *const kLastPdfFile = "PdfDialog.FileName";
// Other documents' PDF files (月別集計): not started from the statement's name.
const char *const kLastOtherPdfFile = "OtherPdfDialog.FileName";
QString lastFile(MainWindow &window, const char *which) { return window.property(which).toString(); }
void setLastFile(MainWindow &window, const char *which, const QString &path) { window.setProperty(which, path); }
PreviewHandler g_preview;

const QString kCsvProgress = QStringLiteral("CSV出力中…");
const QString kPrintProgress = QStringLiteral("標準印刷中…");

// The card number of a card-read view, or an empty text in a database view.
// False when the user has been warned (nothing typed, or "0000"); refusal
// ends the warning with "では" + what.
bool selectedCardForOutput(MainWindow &f, const QString &refusal, QString &card)
{
    card.clear();
    if (f.view.viewType == 2)
        return true;
    if (f.optCardNo[0]->isChecked() && f.txtCardInput->text().isEmpty()) {
        app::showWarning(QStringLiteral("カードNOが入力されていません。"));
        focusCardNumber(f);
        return false;
    }
    if (typedCardNumberRefused(f))
        return false;
    card = selectedCardNumber(f);
    if (card == kAllCards) {
        app::showWarning(QStringLiteral("カードNO:[") + card + QStringLiteral("]では") + refusal);
        focusCardNumber(f);
        return false;
    }
    return true;
}

// The printer named in the list becomes the current one if it is installed.
void choosePrinter(MainWindow &window, QPrinter &printer)
{
    const QString wanted = window.cboPrinter->currentText().trimmed();
    if (seams::installedPrinters().names.contains(wanted))
        window.statementPrinter = wanted;
    if (!window.statementPrinter.isEmpty())
        printer.setPrinterName(window.statementPrinter);
    printer.setDocName(kDocumentName);
    reports::setStatementPage(printer);
}

// The preview fills the screen, so that a page is read at its width. For a
// PDF file its print button only closes it with a yes: the file is then
// chosen and written by the program's own writer, not by Qt's.
bool realPreview(MainWindow &window, QPrinter &printer, const std::function<void(QPrinter *)> &paint)
{
    QPrintPreviewDialog dialog(&printer, &window);
    dialog.setObjectName(QStringLiteral("PrintPreviewDialog"));
    dialog.setWindowTitle(QStringLiteral("印刷プレビュー"));
    // The screen's size also where no window manager maximises it.
    if (const QScreen *screen = window.screen())
        dialog.setGeometry(screen->availableGeometry());
    dialog.setWindowState(dialog.windowState() | Qt::WindowMaximized);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter *p) { paint(p); });
    if (printer.outputFormat() == QPrinter::PdfFormat) {
        const QString print = QCoreApplication::translate("QPrintPreviewDialog", "Print");
        for (QAction *action : dialog.findChildren<QAction *>()) {
            if (action->text() != print)
                continue;
            QObject::disconnect(action, SIGNAL(triggered(bool)), &dialog, nullptr);
            QObject::connect(action, &QAction::triggered, &dialog, &QDialog::accept);
        }
    }
    return dialog.exec() == QDialog::Accepted;
}

// The print question for a printer or for the PDF file entry; what names
// what is shown ("495件の利用履歴", "月別集計").
seams::PrintAnswer askBeforePrinting(const QString &printerText, const QString &what)
{
    const QString shown = QStringLiteral("現在表示されている") + what;
    if (printerText == kPdfFilePrinter)
        return seams::askPrintQuestion(shown + QStringLiteral("をPDFファイルに出力します。") + kCrLf +
                                       QStringLiteral("準備は宜しいですか?"));
    return seams::askPrintQuestion(
        shown + QStringLiteral("を下記プリンタより印刷します。") + kCrLf + QStringLiteral("準備は宜しいですか?") +
        kCrLf + kCrLf + printerText + kCrLf + kCrLf +
        QStringLiteral("※用紙サイズはA4固定です。プリンタに用紙があることを確認してください。"));
}

// The pages as a PDF file will hold them, on a PDF printer of the same page set-up.
void setPdfPreviewPrinter(QPrinter &pages)
{
    pages.setOutputFormat(QPrinter::PdfFormat);
    pages.setDocName(kDocumentName);
    reports::setStatementPage(pages);
}

// The statement's preview on printer; true if the user printed from it.
bool previewStatement(MainWindow &window, QPrinter &printer, const QString &card)
{
    // Stopped, the preview shows the pages made so far.
    // (Drawn while the preview's dialog runs: a failure is told there.)
    const auto paint = [&](QPrinter *p) {
        guarded(app::Procedure::StatementPages, [&] {
            reports::paintStatement(*p, window.view, card, progressOf(&window, QStringLiteral("印刷プレビューを作成中…")));
        });
    };
    return g_preview ? g_preview(printer, paint) : realPreview(window, printer, paint);
}

// The PDF file the user chooses, an existing one only after a yes; empty
// when cancelled. The dialog starts from the file last chosen for the same
// document (lastKey), else from the suggested name in the CSV folder.
QString askPdfFile(MainWindow &window, const QString &suggested, const char *lastKey = kLastPdfFile)
{
    QString path;
    for (;;) {
        path = seams::askSaveFileName(
            QStringLiteral("PDFファイルを保存"),
            lastFile(window, lastKey).isEmpty()
                ? rememberedFolder(QStringLiteral("PdfPath"), app::withTrailingSeparator(app::runSettings().csvFolder)) + suggested
                : lastFile(window, lastKey),
            QStringLiteral("PDFファイル (*.pdf);;すべてのファイル (*.*)"));
        if (path.isEmpty())
            return {};
        if (QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".pdf");
        setLastFile(window, lastKey, path);
        if (const QString refusal = app::documentTargetRefusal(path); !refusal.isEmpty()) {
            app::showWarning(refusal); // and the dialog again
            continue;
        }
        if (!QFileInfo::exists(path) ||
            app::askYesNoDefaultNo(kSameNameExists + kCrLf + kCrLf + QDir::toNativeSeparators(path))) {
            rememberFolderOf(QStringLiteral("PdfPath"), path);
            return path;
        }
    }
}

// The statement into a PDF file chosen by the user: the file written, empty
// when cancelled or when it could not be written (the user has been warned).
QString printToPdfFile(MainWindow &window, const QString &card)
{
    const QString path = askPdfFile(window, suggestedFileName(window.view, kStatementTitle, QStringLiteral(".pdf"), card));
    if (path.isEmpty())
        return {};
    // Written beside the target and moved into place only when complete: a
    // PDF that did not fit on the disk leaves an older file as it was.
    const bool existed = QFileInfo::exists(path);
    app::CheckedSaveFile file(path);
    app::openForWriting(file);
    const qint32 pages = reports::writeStatementPdf(file, window.view, card, {kStatementTitle, kAppTitle}, progressOf(&window, kPrintProgress));
    if (pages == kStatementStopped)
        return {}; // stopped: the unfinished file goes, an older one stays
    if (pages > 0 && !file.commit()) {
        app::showWarning(app::fileNotWrittenText(QStringLiteral("PDFファイル"), path, existed));
        return {};
    }
    return path;
}
} // namespace

void setPreviewHandler(PreviewHandler handler) { g_preview = std::move(handler); }

QString rememberedFolder(const QString &key, const QString &fallback)
{
    const QString folder = app::readProfileString(kSectionMain, key, app::settingsFileName());
    return folder != kIniMissing && !folder.isEmpty() && QFileInfo(folder).isDir() ? app::withTrailingSeparator(folder)
                                                                                     : fallback;
}

void rememberFolderOf(const QString &key, const QString &file)
{
    const QString folder = app::withTrailingSeparator(QDir::toNativeSeparators(QFileInfo(file).absolutePath()));
    if (QFileInfo::exists(app::settingsFileName()) && folder != rememberedFolder(key, QString()))
        app::saveSetting(kSectionMain, key, folder);
}

QString savedToLine(const QString &path)
{
    return kCrLf + QDir::toNativeSeparators(path) + QStringLiteral(" に保存しました。");
}

QString suggestedFileName(const history::ViewQuery &view, const QString &what, const QString &extension,
                          const QString &held)
{
    const QString viewed = held.isEmpty() ? view.cardNo : held;
    const QString card = viewed.isEmpty() || viewed == kNoCardNo ? QStringLiteral("全カード") : viewed;
    const auto day = [](const QString &dateTime) { return dateTime.left(10).remove(QLatin1Char('/')); };
    const QString period = view.ranged
                               ? day(view.start) + QLatin1Char('-') + day(view.end)
                               : QStringLiteral("全期間");
    return what + QLatin1Char('_') + card + QLatin1Char('_') + period + extension;
}

bool printOnChosenPrinter(MainWindow &window, const QString &what, const QString &pdfName,
                          const std::function<bool(QPagedPaintDevice &)> &paint, QString *written)
{
    const QString printerText = window.cboPrinter->currentText();
    if (printerText == kNoPrinter) {
        app::showWarning(QStringLiteral("プリンタが見つかりません。プリンタをインストールしてください。"));
        return false;
    }
    const seams::PrintAnswer answer = askBeforePrinting(printerText, what);
    if (answer == seams::PrintAnswer::Stop)
        return false;
    const auto draw = [&](QPrinter *p) { paint(*p); };
    QPrinter printer(QPrinter::HighResolution);
    if (printerText == kPdfFilePrinter) {
        if (answer == seams::PrintAnswer::Preview) {
            setPdfPreviewPrinter(printer);
            if (!(g_preview ? g_preview(printer, draw) : realPreview(window, printer, draw)))
                return false;
        }
        const QString path = askPdfFile(window, pdfName, kLastOtherPdfFile);
        if (path.isEmpty())
            return false;
        const bool existed = QFileInfo::exists(path);
        app::CheckedSaveFile file(path);
        app::openForWriting(file);
        bool painted = false;
        {
            QPdfWriter writer(&file);
            writer.setTitle(what);
            writer.setCreator(kAppTitle);
            reports::setStatementPage(writer);
            painted = paint(writer);
        } // the writer finishes the file here
        if (!painted || !file.commit()) {
            app::showWarning(app::fileNotWrittenText(QStringLiteral("PDFファイル"), path, existed));
            return false;
        }
        if (written)
            *written = path;
        return true;
    }
    choosePrinter(window, printer);
    if (answer == seams::PrintAnswer::Preview)
        return g_preview ? g_preview(printer, draw) : realPreview(window, printer, draw);
    if (!paint(printer))
        throw Failure(482, QStringLiteral("プリンタ エラーが発生しました。"));
    return true;
}

void fillPrinterList(MainWindow &window)
{
    guarded(app::Procedure::ListPrinters, [&] {
        QComboBox *list = window.cboPrinter;
        list->clear();
        const seams::PrinterList printers = seams::installedPrinters();
        list->addItems(printers.names);
        if (list->count() > 0) {
            const int index = list->findText(printers.defaultName.trimmed(), Qt::MatchExactly);
            list->setCurrentIndex(index >= 0 ? index : 0);
            list->addItem(kPdfFilePrinter);
        } else {
            // Without a printer the statement can still go into a file.
            list->addItem(kNoPrinter);
            list->addItem(kPdfFilePrinter);
            list->setCurrentIndex(1);
        }
    });
}

void printStatement(MainWindow &f)
{
    guarded(app::Procedure::PrintStatement, [&] {
        const QString printerText = f.cboPrinter->currentText();
        if (printerText == kNoPrinter) {
            app::showWarning(QStringLiteral("プリンタが見つかりません。プリンタをインストールしてください。"));
            return;
        }
        QString card;
        if (!selectedCardForOutput(f, QStringLiteral("印刷できません。"), card))
            return;
        const seams::PrintAnswer answer =
            askBeforePrinting(printerText, app::recordCountText(f.shownCount()) + QStringLiteral("の利用履歴"));
        if (answer == seams::PrintAnswer::Stop)
            return;
        if (printerText == kPdfFilePrinter) {
            if (answer == seams::PrintAnswer::Preview) {
                QPrinter pages(QPrinter::HighResolution);
                setPdfPreviewPrinter(pages);
                if (!previewStatement(f, pages, card))
                    return;
            }
            if (const QString written = printToPdfFile(f, card); !written.isEmpty())
                app::showInfo(QStringLiteral("標準印刷が完了しました。") + savedToLine(written));
            return;
        }
        QPrinter printer(QPrinter::HighResolution);
        choosePrinter(f, printer);
        if (answer == seams::PrintAnswer::Preview) {
            if (!previewStatement(f, printer, card))
                return;
        } else {
            // Stopped: the job is aborted while it is still open, so that no
            // part of it reaches the printer where the system allows that.
            const reports::ReportProgress progress = progressOf(&f, kPrintProgress);
            const auto printing = [&](qint64 done, qint64 total) {
                if (progress(done, total))
                    return true;
                printer.abort();
                return false;
            };
            if (reports::paintStatement(printer, f.view, card, printing) == kStatementStopped)
                return;
        }
        app::showInfo(QStringLiteral("標準印刷が完了しました。"));
    });
}

void exportCsv(MainWindow &f)
{
    guarded(app::Procedure::ExportCsv, [&] {
        QString card;
        if (!selectedCardForOutput(f, QStringLiteral("CSV出力できません。"), card))
            return;
        qint16 mode = reports::CsvCreate;
        QString path;
        for (;;) {
            path = seams::askSaveFileName(QStringLiteral("CSVファイルを保存"),
                                          lastFile(f, kLastCsvFile).isEmpty()
                                              ? app::withTrailingSeparator(app::runSettings().csvFolder) + suggestedFileName(f.view, QStringLiteral("利用履歴"), QStringLiteral(".csv"), card)
                                              : lastFile(f, kLastCsvFile),
                                          QStringLiteral("CSVファイル (*.csv);;すべてのファイル (*.*)"));
            if (path.isEmpty())
                return; // cancelled: nothing written, the folder stays
            setLastFile(f, kLastCsvFile, path);
            if (const QString refusal = app::documentTargetRefusal(path); !refusal.isEmpty()) {
                app::showWarning(refusal); // and the dialog again
                continue;
            }
            if (!QFileInfo::exists(path)) {
                mode = reports::CsvCreate;
                break;
            }
            const seams::MsgAnswer answer = app::askYesNoCancel(
                kSameNameExists + kCrLf + kCrLf + QDir::toNativeSeparators(path) + kCrLf + kCrLf +
                QStringLiteral("※「いいえ」を選択した場合、既存のファイルに追加書込みを行います。"));
            if (answer == seams::MsgAnswer::Yes) {
                mode = reports::CsvCreate;
                break;
            }
            if (answer == seams::MsgAnswer::No) {
                mode = reports::CsvAppend;
                break;
            }
        }
        // The folder of the chosen file, remembered for the next export.
        const QString folder = app::withTrailingSeparator(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
        if (!app::saveSetting(kSectionMain, QStringLiteral("CSVPath"), folder) &&
            !app::fileExists(app::settingsFileName()))
            return; // warned that the settings file is missing; nothing changes
        app::runSettings().csvFolder = folder;
        if (reports::writeCsvFile(path, mode, f.view, card, progressOf(&f, kCsvProgress)))
            app::showInfo(QStringLiteral("CSV出力が完了しました。") + savedToLine(path));
    });
}

} // namespace ui
