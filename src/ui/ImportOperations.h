#pragma once
// CSV取込 (menu ファイル): CSV files of earlier exports back into the history.

#include <QString>
#include <QStringList>
#include <functional>

// The files to import, chosen in a dialog (empty: cancelled). An empty
// handler restores the real one, a file dialog for several files.
using OpenCsvFilesHandler = std::function<QStringList(const QString &initialFolder)>;
void setOpenCsvFilesHandler(OpenCsvFilesHandler handler);

// Whether to import what the check found (its summary): 取込 true,
// キャンセル false. An empty handler restores the real modal question.
using ImportQuestionHandler = std::function<bool(const QString &summary)>;
void setImportQuestionHandler(ImportQuestionHandler handler);

// CSV取込 (mnuCSVImport).
void basMain_CSVImport();
