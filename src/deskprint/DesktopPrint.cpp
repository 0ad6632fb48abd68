// The desktop print window's statements and list rows, the print line and
// the print of one record on the desktop printer behind the relay unit.

#include "deskprint/DesktopPrint.h"
#include "app/RunSettings.h"

#include "app/Cp932.h"
#include "app/Failure.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "decode/FrameBytes.h"
#include "history/HistoryCheck.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "reader/FrameRecognizer.h"
#include "reader/CardReader.h"

#include <QSerialPort>
#include <QSqlRecord>

namespace {

const QString kGateTerms = QStringLiteral("入口料金所 ASC,出口料金所 ASC");
const QStringList kDisplayColumns{QStringLiteral("カードNO"), QStringLiteral("ご利用日"), QStringLiteral("通過時間"),
                                  QStringLiteral("通行料金"), QStringLiteral("車種"),     QStringLiteral("入口料金所"),
                                  QStringLiteral("出口料金所")};

// The date terms of the sort setting, each beginning with a blank.
QString sortTerms()
{
    if (app::runSettings().viewSort == QLatin1String("NEW"))
        return QStringLiteral(" ご利用日 DESC,通過時間 DESC,");
    if (app::runSettings().viewSort == QLatin1String("OLD"))
        return QStringLiteral(" ご利用日 ASC,通過時間 ASC,");
    return {};
}


// The name of the row's identity in the list's rows: the list knows each
// row by it, so that exactly the row chosen is the row printed and marked.
const QString kRowIdentity = QStringLiteral("PASSLOG_ROWID");

QString fieldText(const QSqlRecord &record, const char *name)
{
    return app::textOrEmpty(record.value(QString::fromLatin1(name)));
}

// Only the digits of a date or time text: "2006/12/15" gives "20061215",
// "17:52:58" gives "175258". A date the card holds but the calendar does not
// ("2024/13/45") keeps its digits and its width.
QString digitsOf(const QString &text)
{
    QString out;
    for (QChar c : text)
        if (c.isDigit())
            out += c;
    return out;
}

// The amount column. Yen, the usual unit, is the bare number; any other unit
// is printed with its mark as the toll display shows it ("未確定" alone, or the
// amount followed by "度数" or "単位"), so that it is never read as yen. The
// line has no byte to spare (4+5+4+5+8+6+3+8 = 43), so an amount that does
// not fit its 8 bytes, a nine-digit one or a long one with its mark, is
// printed as "********", as a spreadsheet shows a number too wide for its
// cell: the slip never shows a cut, wrong number.
QString amountColumn(const QSqlRecord &record)
{
    const QString money = fieldText(record, "PASS_MONEY");
    const QString unit = fieldText(record, "PASS_UNIT");
    QString text = money;
    if (unit == QStringLiteral("未確定"))
        text = unit;
    else if (!unit.isEmpty() && unit != QStringLiteral("円"))
        text += unit;
    if (cp932::width(text) > kPrintAmountBytes)
        return QString(kPrintAmountBytes, QLatin1Char('*'));
    return app::fixedWidth(text, kPrintAmountBytes);
}

// Drops whatever the line delivered before the print frame (a late answer
// to an earlier record), so that only this record's reply can mark it.
void discardStaleInput()
{
    QSerialPort *port = reader::serialPort();
    if (!port->isOpen())
        return;
    port->clear(QSerialPort::Input);
    port->readAll();
}

} // namespace

QString deskprint::viewTable(const history::ViewQuery &view) { return view.viewType == 2 ? kTableData : kTableTemp; }

history::BoundStatement deskprint::listStatement(const history::ViewQuery &view, const QString &tableName,
                                                 qint16 unprintedOnly)
{
    return app::tagged(app::Procedure::DesktopPrintListStatement, [&] {
        history::BoundStatement s{QStringLiteral("SELECT ") + history::rowKeyColumn(tableName) + QStringLiteral(" AS ") +
                                      kRowIdentity + QStringLiteral(", * FROM ") + tableName,
                                  {}};
        QStringList conditions;
        if (view.ranged) {
            conditions << QStringLiteral("?<=DATE_TIME AND DATE_TIME<=?");
            s.values << view.start << view.end;
        }
        if (unprintedOnly == 1)
            conditions << QStringLiteral("PRINT_FLAG=False");
        if (view.viewType == 2 && view.cardNo != kNoCardNo) {
            conditions << QStringLiteral("カードNO=?");
            s.values << view.cardNo;
        }
        if (!conditions.isEmpty())
            s.sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
        s.sql += QStringLiteral(" ORDER BY");
        if (view.viewType == 2)
            s.sql += QStringLiteral(" カードNO ASC,");
        s.sql += sortTerms() + QLatin1Char(' ') + kGateTerms + QLatin1Char(';');
        return s;
    });
}

history::BoundStatement deskprint::printRowStatement(const QString &tableName, const deskprint::DesktopPrintRow &row)
{
    return app::tagged(app::Procedure::DesktopPrintRowStatement, [&] {
        if (row.values.size() != kDisplayColumns.size())
            throw Failure(9, QStringLiteral("インデックスが有効範囲にありません。"));
        // The row by its identity, as long as it still shows what the list
        // showed: a row changed since selects nothing.
        history::BoundStatement s{QStringLiteral("SELECT * FROM ") + tableName + QStringLiteral(" WHERE ") +
                                      history::rowKeyColumn(tableName) + QStringLiteral("=?"),
                                  {row.rowKey}};
        for (int i = 0; i < kDisplayColumns.size(); ++i) {
            s.sql += QStringLiteral(" AND ") + kDisplayColumns[i] + QStringLiteral("=?");
            s.values << row.values[i];
        }
        s.sql += QLatin1Char(';');
        return s;
    });
}

QList<deskprint::DesktopPrintRow> deskprint::listRows(const history::BoundStatement &list)
{
    return app::tagged(app::Procedure::FillDesktopPrintList, [&] {
        QList<deskprint::DesktopPrintRow> rows;
        QSqlQuery q = history::execute(DbConnection::History, list.sql, list.values);
        const QSqlRecord fields = q.record();
        const int identity = fields.indexOf(kRowIdentity);
        QList<int> columns;
        for (const QString &name : kDisplayColumns)
            columns << fields.indexOf(name);
        const int flag = fields.indexOf(QStringLiteral("PRINT_FLAG"));
        while (q.next()) {
            deskprint::DesktopPrintRow row;
            row.printed = flag >= 0 && q.value(flag).toBool();
            row.rowKey = q.value(identity).toLongLong();
            for (int i = 0; i < columns.size(); ++i) {
                const QVariant value = columns[i] >= 0 ? q.value(columns[i]) : QVariant();
                row.values << app::textOrEmpty(value);
                if (value.isNull())
                    row.nullColumns << kDisplayColumns[i];
            }
            rows << row;
        }
        if (q.lastError().isValid())
            history::throwSqlError(q.lastError());
        return rows;
    });
}

QString deskprint::nullRowWarning(const deskprint::DesktopPrintRow &row)
{
    if (row.nullColumns.isEmpty())
        return {};
    QStringList named;
    for (int i = 0; i < kDisplayColumns.size() && i < row.values.size(); ++i)
        named << kDisplayColumns[i] + QLatin1Char(':') + row.values[i];
    return QStringLiteral("「") + row.nullColumns.join(QStringLiteral("」「")) +
           QStringLiteral("」が空欄のため、次の利用履歴は卓上プリンタで印刷できません。\r\n\r\n") +
           named.join(QLatin1Char(' '));
}

QByteArray deskprint::printLine(const QSqlRecord &record)
{
    const QString text = app::fixedWidth(fieldText(record, "JID_IN"), 4) +
                         app::fixedWidth(fieldText(record, "ITC_IN"), 5) +
                         app::fixedWidth(fieldText(record, "JID_OUT"), 4) +
                         app::fixedWidth(fieldText(record, "ITC_OUT"), 5) +
                         app::fixedWidth(digitsOf(fieldText(record, "PASS_DATE")), 8) +
                         app::fixedWidth(digitsOf(fieldText(record, "PASS_TIME")), 6) +
                         app::fixedWidth(fieldText(record, "CAR_CODE"), 3) +
                         amountColumn(record);
    // The fitting counts code-page-932 bytes; the line is held to its width
    // whatever a stored value holds.
    return cp932::encode(text).leftJustified(kPrintLineBytes, ' ', true);
}

QByteArray deskprint::printFrame(const QByteArray &printLine)
{
    return reader::relayEnvelope(QByteArrayLiteral("COM2:"), frame::fromRaw(printLine));
}

namespace {

// Marks the record printed, at once: a print run that breaks off later
// leaves every record printed so far marked, and no other.
void markPrinted(const QString &table, qint64 rowId)
{
    QSqlQuery mark = history::execute(DbConnection::History,
                                      QStringLiteral("UPDATE ") + table + QStringLiteral(" SET PRINT_FLAG=True WHERE ") +
                                          history::rowKeyColumn(table) + QStringLiteral("=?;"),
                                      {rowId});
    mark.finish();
}

// A record on its way to the printer: the row it was read from and its line.
struct Record {
    QString table;
    qint64 rowId = 0;
    QByteArray line;
};

// Reads the record of a list row and sends its print frame; none when the
// row is gone or changed since it was listed.
std::optional<Record> readAndSend(const QString &tableName, const deskprint::DesktopPrintRow &row)
{
    return app::tagged(app::Procedure::SendToDesktopPrinter, [&]() -> std::optional<Record> {
        Record r;
        r.table = tableName;
        // The printed mark is stored right after the print: nothing is
        // printed that could not be marked.
        if (history::route(DbConnection::History, r.table) == DbConnection::History)
            history::requireSoundHistory();
        const history::BoundStatement chosen = deskprint::printRowStatement(tableName, row);
        QSqlQuery q = history::execute(DbConnection::History, chosen.sql, chosen.values);
        if (!q.next()) {
            if (q.lastError().isValid())
                history::throwSqlError(q.lastError());
            return std::nullopt;
        }
        r.rowId = row.rowKey;
        r.line = deskprint::printLine(q.record());
        q.finish();
        discardStaleInput();
        reader::sendBytes(deskprint::printFrame(r.line), reader::Envelope::AsBuilt);
        return r;
    });
}

} // namespace

void deskprint::sendToPrinter(const QString &tableName, const DesktopPrintRow &row,
                              std::function<void(const PrinterReply &)> ended)
{
    // The record is read, and the frame sent, once the line is free.
    reader::link().whenFree([tableName, row, ended = std::move(ended)] {
        std::optional<Record> record;
        const QString refused = app::expectedFailureOf([&] { record = readAndSend(tableName, row); });
        if (!record) {
            PrinterReply nothing;
            nothing.refused = refused;
            ended(nothing);
            return;
        }
        auto reply = std::make_shared<PrinterReply>();
        reply->silent = true;
        reader::link().runSequence(
            app::Procedure::SendToDesktopPrinter, kPrinterReplyWaits.first(),
            [reply, receives = 0](const QByteArray &frame) mutable -> std::optional<int> {
                ++receives;
                // Only a whole reply counts: a damaged one confirms nothing.
                if (frame::ubound(frame) >= 5 && reader::frameIntact(frame)) {
                    if (frame::at(frame, 1) == ctl::ACK) {
                        reply->printed = true;
                        reply->silent = false;
                        return std::nullopt;
                    }
                    if (frame::at(frame, 1) == ctl::NAK) {
                        reply->status = qint16(frame::at(frame, 4));
                        reply->silent = false;
                        return std::nullopt;
                    }
                }
                return receives < kPrinterReplyWaits.size() ? std::optional<int>(kPrinterReplyWaits[receives])
                                                            : std::nullopt;
            },
            [reply, record, ended] {
                if (reply->printed)
                    reply->refused = app::expectedFailureOf([&] {
                        app::tagged(app::Procedure::SendToDesktopPrinter, [&] { markPrinted(record->table, record->rowId); });
                    });
                ended(*reply);
            });
    });
}

namespace {

struct PrintRun {
    QString table;
    QList<deskprint::DesktopPrintRow> rows;
    std::function<void(const QString &)> warn;
    std::function<void(int)> ended;
    int next = 0;
    int printed = 0;
};

void printNext(const std::shared_ptr<PrintRun> &run)
{
    while (run->next < run->rows.size()) {
        const deskprint::DesktopPrintRow &row = run->rows[run->next++];
        if (const QString refusal = deskprint::nullRowWarning(row); !refusal.isEmpty()) {
            run->warn(refusal);
            continue;
        }
        deskprint::sendToPrinter(run->table, row, [run](const deskprint::PrinterReply &reply) {
            run->printed += reply.printed ? 1 : 0;
            if (reply.silent)
                run->warn(kPrinterSilent);
            if (reply.status != 0) {
                run->warn(kPaperOut);
                run->ended(run->printed);
                return;
            }
            // A record the history refused (to read, or to mark as printed)
            // stops the run: no more slips it would not know as printed.
            if (!reply.refused.trimmed().isEmpty()) {
                run->warn(reply.refused);
                run->ended(run->printed);
                return;
            }
            printNext(run);
        });
        return;
    }
    run->ended(run->printed);
}

} // namespace

void deskprint::printRows(const QString &tableName, const QList<deskprint::DesktopPrintRow> &rows,
                          std::function<void(const QString &)> warn, std::function<void(int printed)> ended)
{
    auto run = std::make_shared<PrintRun>();
    run->table = tableName;
    run->rows = rows;
    run->warn = std::move(warn);
    run->ended = std::move(ended);
    printNext(run);
}
