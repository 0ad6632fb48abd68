#pragma once
// The rows a report is made of: the columns of ETC_DATA / ETC_TEMP that the
// statement and the CSV file use, read one row at a time so that a large
// history never sits in memory as a whole.

#include "history/ViewCondition.h"
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <array>
#include <functional>

namespace reports {

enum class ReportColumn {
    CardNo, // カードNO
    PassDate,
    PassTime,
    CarCode,
    PassMoney,
    PassUnit,
    CarName,
    JidIn,
    ItcIn,
    JidOut,
    ItcOut,
    JidInName,
    ItcInRoad,
    ItcInGate,
    JidOutName,
    ItcOutRoad,
    ItcOutGate,
    UseDate,     // ご利用日
    TollTime,    // 通過時間
    Toll,        // 通行料金
    CarKind,     // 車種
    EntranceName, // 入口料金所
    ExitName,     // 出口料金所
    Count
};

// The column name in the history tables.
QString reportColumnName(ReportColumn column);

} // namespace reports

// One row: the values as the database gives them (Null stays a null value,
// numbers stay numbers).
struct ReportRow {
    std::array<QVariant, size_t(reports::ReportColumn::Count)> values;
    QVariant &operator[](reports::ReportColumn c) { return values[size_t(c)]; }
    const QVariant &operator[](reports::ReportColumn c) const { return values[size_t(c)]; }
    // The value as text; Null gives the empty text.
    QString text(reports::ReportColumn c) const;
};

namespace reports {

// Fills the row with the next one and returns true, or returns false after
// the last row. A source may throw Failure.
using ReportRowSource = std::function<bool(ReportRow &row)>;

// Progress of a report: rows done of total (0 when not known). Returns false
// when the user asked to stop; the report then ends without a result.
using ReportProgress = std::function<bool(qint64 done, qint64 total)>;

// The number of rows of a select statement of the history, counted without
// reading them.
qint64 reportRowCount(const QString &jetStatement);

// The rows of a statement of the history database, in its order (none for
// an empty statement).
class QueryRows {
public:
    explicit QueryRows(const QString &jetStatement);
    bool operator()(ReportRow &row);

private:
    QSqlQuery m_query;
    std::array<int, size_t(ReportColumn::Count)> m_index{};
};

// The rows the grid shows: the select statement of the current view
// (ETC_TEMP after a card read, ETC_DATA after a database read); empty while
// the grid shows nothing.
QString shownRowsStatement(const history::ViewQuery &view);

// A source over a fixed list of rows (tests, examples).
ReportRowSource listRows(const QList<ReportRow> &rows);

} // namespace reports
