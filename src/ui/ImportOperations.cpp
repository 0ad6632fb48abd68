#include "ui/ImportOperations.h"

#include "app/Failure.h"
#include "app/basCommon.h"
#include "app/basGlobal.h"
#include "history/ViewCondition.h"
#include "reports/CsvImport.h"
#include "ui/Commands.h"
#include "ui/Progress.h"
#include "ui/basMainWindow.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

OpenCsvFilesHandler g_openFiles;
ImportQuestionHandler g_question;

QStringList askFiles(const QString &folder)
{
    if (g_openFiles)
        return g_openFiles(folder);
    QFileDialog::Options options;
#ifndef Q_OS_WIN
    // The desktop's own dialog would speak the session's language; Qt's speaks Japanese.
    options |= QFileDialog::DontUseNativeDialog;
#endif
    return QFileDialog::getOpenFileNames(QApplication::activeWindow(), QStringLiteral("取り込むCSVファイル"), folder,
                                         QStringLiteral("CSVファイル (*.csv);;すべてのファイル (*.*)"), nullptr,
                                         options);
}

bool askImport(const QString &summary)
{
    if (g_question)
        return g_question(summary);
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(kAppTitle);
    box.setIcon(QMessageBox::Information);
    box.setText(QStringLiteral("次の利用履歴を取り込みます。"));
    box.setInformativeText(summary);
    QPushButton *import = box.addButton(QStringLiteral("取込"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(import);
    box.exec();
    return box.clickedButton() == import;
}

} // namespace

void setOpenCsvFilesHandler(OpenCsvFilesHandler handler) { g_openFiles = std::move(handler); }
void setImportQuestionHandler(ImportQuestionHandler handler) { g_question = std::move(handler); }

void basMain_CSVImport()
{
    guarded("basMain_CSVImport", [] {
        if (typedCardNumberRefused())
            return;
        const QStringList files = askFiles(CSVPath);
        if (files.isEmpty())
            return;
        // A card number chosen in the window is every line's; otherwise each line names its own.
        QString card = basAccess_GetSelectCardNo();
        if (card == kNoCardNo)
            card.clear();
        CsvImport import(files, card);
        QString changed; // said before the summary when the files changed after the last one
        for (;;) {
            bool checked = false;
            QString failed =
                expectedFailureOf([&] { checked = import.check(progressOf(QStringLiteral("CSV取込の確認中…"))); });
            if (failed.isEmpty() && !checked)
                return; // stopped
            if (!failed.trimmed().isEmpty()) {
                basCommon_ShowWarning(failed);
                return;
            }
            QString summary = changed + csvImportSummaryText(import.summary());
            if (!card.isEmpty())
                summary += QStringLiteral("すべての行をカードNO:[") + card + QStringLiteral("]で取り込みます。\n");
            if (import.summary().added == 0) {
                basCommon_ShowInfo(summary + QStringLiteral("新しい利用履歴はありません。何も取り込みません。"));
                return;
            }
            if (!askImport(summary))
                return;
            qint64 added = 0;
            bool filesChanged = false;
            failed = expectedFailureOf([&] {
                try {
                    added = import.write(progressOf(QStringLiteral("CSV取込中…")));
                } catch (const CsvFilesChanged &) {
                    filesChanged = true;
                }
            });
            if (filesChanged) {
                // What was agreed to is no longer in the files: the new
                // contents are checked and asked about again.
                changed = QStringLiteral("確認した後でCSVファイルが変更されたため、何も取り込んでいません。"
                                         "変更後の内容を確認し直しました。\n\n");
                continue;
            }
            if (!failed.trimmed().isEmpty()) {
                basCommon_ShowWarning(failed);
                return;
            }
            if (!failed.isEmpty() || added < 0)
                return; // stopped: the history is as it was
            basMain_GetCardNo();
            enableDBReadIfHistory();
            basCommon_ShowInfo(QStringLiteral("CSV取込が完了しました。") + QString::number(added) +
                               QStringLiteral("件の利用履歴を取り込みました。"));
            return;
        }
    });
}
