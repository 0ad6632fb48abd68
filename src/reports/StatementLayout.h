#pragma once
// Where the statement's texts go on an A4 landscape page: shared by the
// painter (StatementPrint.h) and the PDF file writer (StatementPdf.h), so that
// paper and file look the same.

namespace statement_layout {
constexpr int kBodyPoints = 11;
constexpr int kTitlePoints = 16;
constexpr int kHeadingPoints = 12;
constexpr int kRuleTwipsBelow = 10;
constexpr int kRuleDots = 10;
// Where the top of a full-width character sits above the baseline, in ems:
// with lines one em apart, kanji of neighbouring lines never touch.
constexpr double kAscentEm = 0.88;
// Margins of a PDF file, about those a laser printer cannot print on.
constexpr double kPdfMarginMm = 5.0;
} // namespace statement_layout
