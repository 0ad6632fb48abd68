#pragma once
// The statement as a PDF file, written by a writer of its own rather than
// through QPdfWriter: every line is one run of glyphs of a fixed-pitch font,
// so the file needs nothing of a general PDF engine, and a dedicated writer
// is several times faster on large histories. It also names, for each glyph,
// the character the statement actually prints (QPdfWriter names the first
// character the font maps to it: a radical such as U+2F64 instead of 用), so
// that the file's text can be searched and copied as printed.
//
// Pages go to the device as they are laid out, the font (a subset of the
// glyphs used) at the end: memory does not grow with the number of pages.

#include "history/ViewCondition.h"
#include "reports/Statement.h"

class QIODevice;

namespace reports {

struct StatementPdfInfo {
    QString title;
    QString creator;
};

// Writes the statement of the rows to out, looking like the printed one
// (StatementPrint.h) on A4 landscape paper with the margins of a PDF file.
// Returns the number of pages; with no rows nothing is written. A write the
// device refuses ends the writing; the device (CheckedSaveFile) remembers it.
// progress(rows done, total) is asked after each page; when it answers false
// the writing ends there and the result is kStatementStopped (the file is
// unfinished: the caller discards it).
qint32 writeStatementPdf(QIODevice &out, const ReportRowSource &rows, qint16 viewMode, const QString &card,
                         const QString &outputDate, const StatementPdfInfo &info,
                         const ReportProgress &progress = {}, qint64 total = 0);

// The statement of the rows the grid shows (its view condition), dated today
// by the program's clock, as a PDF file; card is the card read's number in view mode 1.
qint32 writeStatementPdf(QIODevice &out, const history::ViewQuery &view, const QString &card,
                         const StatementPdfInfo &info, const ReportProgress &progress = {});

} // namespace reports
