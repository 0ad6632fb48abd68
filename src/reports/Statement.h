#pragma once
// The A4 statement "ＥＴＣ利用履歴明細表": which lines go on which page, as
// texts of fixed-width fields measured in code-page-932 columns. The painting
// (StatementPrint.h) only puts these texts on paper.

#include "reports/ReportRows.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

inline const QString kStatementTitle = QStringLiteral("ＥＴＣ利用履歴明細表");
constexpr int kBlocksPerPage = 20;

// The texts of lines 1 to 5 of a page header; after them come the rule and
// an empty line.
enum StatementHeaderLine { TitleLine, DateLine, PageLine, EmptyLine, HeadingLine, HeaderLineCount };

namespace reports {

struct StatementPage {
    qint32 number = 0;
    QStringList body; // record blocks (two lines each) and card subtotals (two lines each), in order
};

struct Statement {
    QString outputDate;
    QList<StatementPage> pages;
};

// " 2024年 5月 1日": the output date printed on every page.
QString statementOutputDate(const QDate &date);
// A number as the statement prints it: a blank in the sign position of a
// value that is not negative (12 -> " 12").
QString signedText(qint64 value);

QStringList statementHeaderLines(qint32 pageNumber, const QString &outputDate);
// The two lines of one record block; card is the card number printed in it.
QStringList statementRecordLines(const ReportRow &row, const QString &card);
// The two lines of a card's subtotal.
QStringList statementSubtotalLines(const QString &card, qint64 count, qint64 sum);

// Lays out the rows page by page and hands each finished page to pageDone.
// viewMode 1: every row belongs to card (the card read's number); viewMode 2:
// the rows are of the history, ordered by card number, each with its own.
// Returns the number of pages (0 when there are no rows).
qint32 composeStatement(const ReportRowSource &rows, qint16 viewMode, const QString &card,
                        const std::function<void(const StatementPage &)> &pageDone);

} // namespace reports

// composeStatement with progress(rows done, total) asked after each page:
// when it answers false the composing ends there and the result is
// kStatementStopped.
constexpr qint32 kStatementStopped = -1;
namespace reports {

qint32 composeStoppable(const ReportRowSource &rows, qint16 viewMode, const QString &card,
                        const std::function<void(const StatementPage &)> &pageDone, const ReportProgress &progress,
                        qint64 total);

// All pages at once.
Statement buildStatement(const ReportRowSource &rows, qint16 viewMode, const QString &card, const QDate &today);

} // namespace reports
