#pragma once
// The CSV file of the rows the grid shows: 17 fields a line in code page
// 932, CR LF line ends, no header line.

#include "history/ViewCondition.h"
#include "history/HistoryFileRows.h"
#include "reports/ReportRows.h"

#include <QByteArray>
#include <QString>

namespace reports {

enum CsvMode : qint16 { CsvCreate = 0, CsvAppend = 1 };

// One line of the file, CR LF included. card is field 1 (the card number of
// a card read) in view mode 1; in view mode 2 each row gives its own.
QByteArray csvLine(const ReportRow &row, qint16 viewMode, const QString &card);

// Writes the rows to path: mode CsvCreate makes a new file (or replaces an
// old one), CsvAppend adds the lines after the last byte of the existing
// file. The file is written beside the target and moved into place at the
// end, so the target is always either the old file or the complete new one.
// A file that could not be written (a full disk) is an ExpectedFailure that
// names it: the old file is as it was and nothing is left beside it (the
// guard of the outermost caller warns and hands it false). False, without a
// warning, when progress asked to stop: nothing is written.
// progress hears of the rows done every few thousand rows, of total (0: not
// known). Other failures (no such folder, database error) go to the error
// report.
bool writeCsvFile(const QString &path, qint16 mode, const ReportRowSource &rows, qint16 viewMode,
                  const QString &card, const ReportProgress &progress = {}, qint64 total = 0);
// The same for the rows the grid shows now. From the history file the rows
// are read straight from SQLite; from the shared history's server through
// the source above. With a progress, the rows are counted first for its total.
bool writeCsvFile(const QString &path, qint16 mode, const history::ViewQuery &view, const QString &card,
                  const ReportProgress &progress = {});

// The lines the file would hold for the rows of a history statement (view
// mode 2: each row's own card number), one line at a time, CR LF included,
// the same bytes as an export of those rows. False when progress asked to
// stop. With spots, the statement may join them as the table passlog_spots
// (card, dt) of its store.
bool csvLinesOf(const QString &statement, const std::function<void(const QByteArray &line)> &each,
                const ReportProgress &progress = {}, const history::PassageSpots &spots = {});

} // namespace reports
