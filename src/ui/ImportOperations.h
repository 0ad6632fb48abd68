#pragma once
// CSV取込 (menu ファイル): CSV files of earlier exports back into the history.

#include <QString>
#include <QStringList>
#include <functional>

class QDialog;
namespace reports {
struct CsvImportSummary;
}

namespace ui {

class MainWindow;

// The files to import, chosen in a dialog (empty: cancelled). An empty
// handler restores the real one, a file dialog for several files.
using OpenCsvFilesHandler = std::function<QStringList(const QString &initialFolder)>;
void setOpenCsvFilesHandler(OpenCsvFilesHandler handler);

// The answer to the summary of what the check found: 取込 or キャンセル, and
// the card number every line is to be filed under (empty: each line keeps
// its own, the default; the user may choose one card in the summary).
struct ImportChoice {
    bool import = false;
    QString oneCard;
};
// Asked with the summary's text and the card every line was checked under
// (empty: their own). An empty handler restores the real modal window.
using ImportQuestionHandler = std::function<ImportChoice(const QString &summary, const QString &oneCard)>;
void setImportQuestionHandler(ImportQuestionHandler handler);

// The summary window: the files and counts, the cards in a scrolling table,
// the choice of one card for every line (suggested: suggestedCard), 取込 and
// キャンセル. It fits the screen whatever the number of cards.
QDialog *importSummaryDialog(const reports::CsvImportSummary &summary, const QString &oneCard, const QString &suggestedCard);

// CSV取込 (mnuCSVImport; was basMain_CSVImport).
void importCsvFiles(MainWindow &window);

} // namespace ui
