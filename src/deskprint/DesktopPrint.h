#pragma once
// The desktop printer (卓上プリンタ) behind the relay unit, and the logic of
// the desktop print window: its list and record statements, the rows of its
// list, the print line and its "COM2:" envelope, and the print of one record.
// No widgets here: the window (ui::DesktopPrintDialog) shows the rows and calls
// these procedures.

#include "history/Database.h"
#include "history/ViewCondition.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <QStringList>

class QSqlRecord;

// The list's columns: the printed mark, then the seven display columns.
inline const QStringList kDesktopPrintHeaders{
    QStringLiteral("印刷"),     QStringLiteral("カードNO"), QStringLiteral("ご利用日"),   QStringLiteral("通過時間"),
    QStringLiteral("通行料金"), QStringLiteral("車種"),     QStringLiteral("入口料金所"), QStringLiteral("出口料金所")};
// Widths of the columns above in twips.
inline const QList<int> kDesktopPrintColumnTwips{600, 900, 1275, 975, 975, 975, 3975, 3975};

inline const QString kPrintedMark = QStringLiteral("済");
inline const QString kNotPrintedMark = QStringLiteral("未");
inline const QString kPaperOut = QStringLiteral("用紙切れです。卓上プリンタに用紙を補充してください。");
inline const QString kPrinterSilent = QStringLiteral("卓上プリンタからの応答がありません。");

namespace deskprint {

// One row of the list: the record's PRINT_FLAG and its display columns
// カードNO, ご利用日, 通過時間, 通行料金, 車種, 入口料金所, 出口料金所 as text
// (a Null as an empty text), with the names of the columns that are Null.
struct DesktopPrintRow {
    bool printed = false;
    QStringList values;
    QStringList nullColumns;
    qint64 rowKey = 0; // the row's identity in its table (rowid, or ROW_ID on the server)
    QString mark() const { return printed ? kPrintedMark : kNotPrintedMark; }
};

// The table the main grid shows: "ETC_TEMP" after a card read (ViewMode 1),
// "ETC_DATA" for a history view (ViewMode 2).
QString viewTable(const history::ViewQuery &view);

// The list statement of the view's records (unprintedOnly 1: only those not
// yet printed), in the grid's order and with its conditions, each row with
// its identity.
history::BoundStatement listStatement(const history::ViewQuery &view, const QString &tableName, qint16 unprintedOnly);
// The statement that selects the record of one list row: the row by its
// identity, as long as every display column still holds what the list shows.
history::BoundStatement printRowStatement(const QString &tableName, const DesktopPrintRow &row);
// The rows a list statement gives, in its order.
QList<DesktopPrintRow> listRows(const history::BoundStatement &list);

// The warning for a row that cannot be printed because a display column is
// Null (its record statement could never select it); empty for a printable row.
QString nullRowWarning(const DesktopPrintRow &row);

} // namespace deskprint

// Width of the print line in bytes, and of its amount column.
constexpr int kPrintLineBytes = 43;
constexpr int kPrintAmountBytes = 8;

namespace deskprint {
// The print line of a record (columns JID_IN, ITC_IN, JID_OUT, ITC_OUT,
// PASS_DATE, PASS_TIME, CAR_CODE, then PASS_MONEY with its PASS_UNIT unless
// yen): always 43 code-page-932 bytes.
QByteArray printLine(const QSqlRecord &record);
// The print line inside the relay envelope for the printer side ("COM2:"),
// 1-based as every frame: 53 bytes.
QByteArray printFrame(const QByteArray &printLine);

// What the printer made of a record.
struct PrinterReply {
    qint16 status = 0;    // the code of the printer's refusal (paper out), 0 otherwise
    bool printed = false; // the printer acknowledged the record
    bool silent = false;  // the printer did not answer at all
    // Why the record could not be read, or its printed mark not stored (the
    // shared history's server away or refusing); empty otherwise.
    QString refused;
};

// Prints the record of a list row on the desktop printer, once the line is
// free, and marks that row printed (PRINT_FLAG) once the printer has
// acknowledged it; the mark is stored before ended runs. A row that is gone
// or changed since it was listed prints nothing and ends with an empty
// reply. Relay mode must be 0: the envelope goes out as built.
void sendToPrinter(const QString &tableName, const DesktopPrintRow &row,
                   std::function<void(const PrinterReply &)> ended);

// The print run of the window: the rows in order, one record each. A row with
// a Null display column is refused, warn() told why, and the others still
// print; a printer that does not answer is told to warn() for that record; a
// refusal of the printer (paper out) is told and ends the run. ended gets
// how many records the printer acknowledged.
void printRows(const QString &tableName, const QList<DesktopPrintRow> &rows,
               std::function<void(const QString &)> warn, std::function<void(int printed)> ended);

} // namespace deskprint

// The receives after a print frame and the wait of each (ms).
inline const QList<int> kPrinterReplyWaits{100, 3000, 500, 500, 500, 500, 500, 500, 500, 500};
