#include "history/GridLoad.h"
#include "history/GridStatement.h"

#include "app/Failure.h"
#include "history/ShownRows.h"
#include "app/Common.h"
#include "history/HistoryGridModel.h"
#include "history/SqlDialect.h"
#include "history/HistoryWorker.h"

#include <QTemporaryDir>
#include "history/Database.h"

#include <limits>
#include <memory>

#include <QSqlQuery>
#include <QSqlRecord>

using history::GridStatement;
using history::OrderTerm;
using history::splitStatement;
using history::totalsOverCounts;

namespace {

constexpr int kTwipsPerPixel = 15;

// Column widths in twips of the two layouts that show data.
const QList<int> kStagingWidths{1200, 900, 900, 975, 3975, 3975};
const QList<int> kHistoryWidths{825, 1200, 900, 900, 975, 3975, 3975};

// Reads a grid statement's rows in its order, a slice at a time, from the
// key of a row on: the statement runs once per slice with a condition on the
// order columns (keyset), never skipping rows it has read before.
//
// "After the key" is split into one condition per order column: the rows
// that share the key's first k columns and come after it in column k+1,
// deepest first. Each of them is an equality prefix and one range, which an
// index in the statement's order seeks to directly, so a slice costs the
// same at the end of a million rows as at the start. Null sorts before every
// value, as in the store's own order.
class SqlPageSource : public history::GridPageSource {
public:
    explicit SqlPageSource(const GridStatement &statement) : m_terms(statement.terms)
    {
        const QString rowKey = history::rowKeyColumn(statement.base);
        m_terms.append({QStringLiteral("grid_key"), false});
        QString base = statement.base;
        // The row key rides along in front of the statement's own columns.
        base.replace(0, 7, QStringLiteral("SELECT ") + rowKey + QStringLiteral(" AS grid_key,"));
        m_from = QStringLiteral("SELECT * FROM (") + base + QStringLiteral(") AS g");
    }

    QString firstStatement(int count) const { return statement(QString(), true, count); }
    // The shown columns follow the row key in every row read.
    void setShownColumns(int shown) { m_shown = shown; }

    history::GridPage after(const QVariantList &key, int count) override { return read(key, true, count); }

    history::GridPage before(const QVariantList &key, int count) override
    {
        history::GridPage reversed = read(key, false, count);
        // Back into grid order.
        history::GridPage page;
        const int columns = m_shown;
        page.rows = reversed.rows;
        for (int r = reversed.rows - 1; r >= 0; --r)
            for (int c = 0; c < columns; ++c) {
                page.text += reversed.cell(r, c, columns);
                page.ends.append(page.text.size());
            }
        page.firstKey = reversed.lastKey;
        page.lastKey = reversed.firstKey;
        return page;
    }

    QList<QVariantList> boundaries(const QVariantList &key, bool forward, int firstAt, int every,
                                   int count) override
    {
        QList<QVariantList> keys;
        qint64 seen = 0;
        const qint64 wanted = firstAt + qint64(every) * (count - 1);
        for (const Condition &condition : conditions(key, forward)) {
            QSqlQuery q = history::execute(DbConnection::History,
                                           statement(condition.sql, forward, int(wanted - seen), true), condition.values);
            while (q.next()) {
                ++seen;
                if (seen >= firstAt && (seen - firstAt) % every == 0)
                    keys.append(keyOf(q, true));
            }
            q.finish();
            if (seen >= wanted)
                break;
        }
        return keys;
    }

    // Reads one statement's rows into a page (cells and keys).
    history::GridPage fill(QSqlQuery &q, history::GridPage page, int count)
    {
        if (m_keyColumns.isEmpty()) {
            const QSqlRecord fields = q.record();
            for (const OrderTerm &t : m_terms)
                m_keyColumns.append(fields.indexOf(t.column));
        }
        while (page.rows < count && q.next()) {
            for (int c = 1; c <= m_shown; ++c) {
                page.text += q.value(c).toString();
                page.ends.append(page.text.size());
            }
            page.lastKey = keyOf(q, false);
            if (page.rows == 0)
                page.firstKey = page.lastKey;
            ++page.rows;
        }
        q.finish();
        return page;
    }

private:
    // A condition on the order columns, its values bound to its "?"s.
    struct Condition {
        QString sql;
        QVariantList values;
    };

    // The order columns' values of the current row: the whole row of a
    // key-only statement, or the key's columns among the shown ones.
    QVariantList keyOf(const QSqlQuery &q, bool keysOnly) const
    {
        QVariantList key;
        for (int k = 0; k < m_terms.size(); ++k)
            key.append(q.value(keysOnly ? k : m_keyColumns.value(k)));
        return key;
    }

    // The conditions, in reading order, for the rows after (forward) or
    // before the key. An empty key: every row.
    QList<Condition> conditions(const QVariantList &key, bool forward) const
    {
        if (key.isEmpty())
            return {Condition{}};
        QList<Condition> out;
        for (int level = int(m_terms.size()) - 1; level >= 0; --level) {
            Condition prefix;
            for (int k = 0; k < level; ++k) {
                prefix.sql += m_terms[k].column;
                if (key[k].isNull()) {
                    prefix.sql += QStringLiteral(" IS NULL");
                } else {
                    prefix.sql += QStringLiteral("=?");
                    prefix.values << key[k];
                }
                prefix.sql += QStringLiteral(" AND ");
            }
            const QString &column = m_terms[level].column;
            const QVariant &v = key[level];
            const auto with = [&](const QString &test, bool bound) {
                Condition c = prefix;
                c.sql += column + test;
                if (bound)
                    c.values << v;
                return c;
            };
            // Rows with a greater value come next when reading upwards.
            const bool upwards = forward != m_terms[level].descending;
            if (upwards) {
                out << (v.isNull() ? with(QStringLiteral(" IS NOT NULL"), false) : with(QStringLiteral(">?"), true));
            } else if (!v.isNull()) {
                out << with(QStringLiteral("<?"), true);
                out << with(QStringLiteral(" IS NULL"), false);
            }
        }
        return out;
    }

    QString statement(const QString &condition, bool forward, int limit, bool keysOnly = false) const
    {
        QString sql = m_from;
        if (keysOnly) {
            QStringList columns;
            for (const OrderTerm &t : m_terms)
                columns << t.column;
            sql = QStringLiteral("SELECT ") + columns.join(QLatin1Char(',')) + sql.mid(8);
        }
        if (!condition.isEmpty())
            sql += QStringLiteral(" WHERE ") + condition;
        sql += QStringLiteral(" ORDER BY ");
        for (int k = 0; k < m_terms.size(); ++k) {
            if (k > 0)
                sql += QLatin1Char(',');
            sql += m_terms[k].column + (m_terms[k].descending == forward ? QStringLiteral(" DESC") : QStringLiteral(" ASC"));
        }
        return sql + QStringLiteral(" LIMIT ") + QString::number(qMax(limit, 0)) + QLatin1Char(';');
    }

    history::GridPage read(const QVariantList &key, bool forward, int count)
    {
        history::GridPage page;
        for (const Condition &condition : conditions(key, forward)) {
            if (page.rows >= count)
                break;
            QSqlQuery q = history::execute(DbConnection::History, statement(condition.sql, forward, count - page.rows),
                                           condition.values);
            page = fill(q, std::move(page), count);
        }
        return page;
    }

    QList<OrderTerm> m_terms;
    int m_shown = 0;
    QString m_from;
    QList<int> m_keyColumns;
};

// Guards the page reads like the load itself: a refused statement goes to
// the error report under the grid load's name. When the shared history's
// server goes away while the grid is shown, the user is told once and the
// rows not read yet stay blank until the next load, instead of a wait and a
// message for every page scrolled to.
class GuardedPageSource : public history::GridPageSource {
public:
    explicit GuardedPageSource(std::unique_ptr<SqlPageSource> inner) : m_inner(std::move(inner)) {}
    history::GridPage after(const QVariantList &key, int count) override
    {
        return attempt([&] { return m_inner->after(key, count); });
    }
    history::GridPage before(const QVariantList &key, int count) override
    {
        return attempt([&] { return m_inner->before(key, count); });
    }
    QList<QVariantList> boundaries(const QVariantList &key, bool forward, int firstAt, int every,
                                   int count) override
    {
        return attempt([&] { return m_inner->boundaries(key, forward, firstAt, every, count); });
    }

private:
    template <typename Read>
    auto attempt(Read read) -> decltype(read())
    {
        return app::tagged(app::Procedure::LoadGrid, [&]() -> decltype(read()) {
            if (m_away)
                return {};
            try {
                return read();
            } catch (const ExpectedFailure &) {
                m_away = true;
                throw;
            }
        });
    }

    std::unique_ptr<SqlPageSource> m_inner;
    bool m_away = false;
};

} // namespace

namespace {
const QString kDuplicateKeys = QStringLiteral("passlog_duplicate_passages");

// Where a worker keeps the passages held twice for the program's own
// connection to the history file: a scratch database file of this run,
// attached to that connection under this name.
const QString kKeysDatabase = QStringLiteral("passlog_keys");

QString scratchKeysFile()
{
    static QTemporaryDir scratch;
    return scratch.isValid() ? scratch.filePath(QStringLiteral("duplicate-passages.sqlite")) : QString();
}

void runOn(QSqlDatabase db, const QString &sql, bool server)
{
    QSqlQuery q(db);
    history::runText(q, sql, server);
}

// (Re)makes the table of the passages held twice, with their number of
// copies, and returns its name for the statements: a temporary table of the
// connection the statement runs on, or, when the window must stay live
// (keepGoing), a table that a worker makes in the scratch file.
QString keepDuplicateKeys(const QString &statement, const history::KeepGoing &keepGoing)
{
    const DbConnection target = history::route(DbConnection::History, statement);
    const bool server = target == DbConnection::Server;
    const QString keys = sqldialect::duplicateKeysQuery(kTableData, true);
    const QString scratch = scratchKeysFile();
    if (server || !keepGoing || scratch.isEmpty()) {
        QSqlDatabase db = history::database(target);
        runOn(db, QStringLiteral("DROP TABLE IF EXISTS ") + kDuplicateKeys, server);
        const QString make = QStringLiteral("CREATE TEMP TABLE ") + kDuplicateKeys + QStringLiteral(" AS ") + keys;
        runOn(db, server ? sqldialect::toPostgres(make) : make, server);
        return kDuplicateKeys;
    }
    QSqlDatabase own = history::database(DbConnection::History);
    QSqlQuery attached(own);
    attached.exec(QStringLiteral("PRAGMA database_list"));
    bool isAttached = false;
    while (attached.next())
        isAttached = isAttached || attached.value(1).toString() == kKeysDatabase;
    attached.finish();
    if (isAttached) // the worker replaces the table: nobody may hold it open
        runOn(own, QStringLiteral("DETACH DATABASE ") + kKeysDatabase, false);
    const QString attach =
        QStringLiteral("ATTACH DATABASE '") + sqldialect::quoted(scratch) + QStringLiteral("' AS ") + kKeysDatabase;
    try {
        history::runOnOwnHistoryConnection(
            [&](QSqlDatabase db, const std::function<bool()> &stopped) {
                runOn(db, attach, false);
                for (const QString &sql :
                     {QStringLiteral("PRAGMA ") + kKeysDatabase + QStringLiteral(".journal_mode=OFF"),
                      QStringLiteral("PRAGMA ") + kKeysDatabase + QStringLiteral(".synchronous=OFF"),
                      QStringLiteral("DROP TABLE IF EXISTS ") + kKeysDatabase + QLatin1Char('.') + kDuplicateKeys,
                      QStringLiteral("CREATE TABLE ") + kKeysDatabase + QLatin1Char('.') + kDuplicateKeys +
                          QStringLiteral(" AS ") + keys}) {
                    QSqlQuery q(db);
                    if (!q.exec(sql) && !sql.startsWith(QStringLiteral("PRAGMA")))
                        history::throwSqlError(q.lastError());
                }
                runOn(db, QStringLiteral("DETACH DATABASE ") + kKeysDatabase, false);
                if (stopped())
                    throw history::WorkStopped();
            },
            keepGoing);
    } catch (...) {
        QSqlQuery(own).exec(attach); // the view shown until now reads on
        throw;
    }
    runOn(own, attach, false);
    return kKeysDatabase + QLatin1Char('.') + kDuplicateKeys;
}
} // namespace

namespace {
// The duplicate display of the whole history (no range, no card: nothing
// but the duplicate condition before its ORDER BY, which begins with the six
// columns of the passage), whose rows are exactly those of the kept passages.
bool wholeDuplicateView(const QString &viewed, const GridStatement &statement)
{
    static const QStringList passage{QStringLiteral("ご利用日"), QStringLiteral("通過時間"), QStringLiteral("通行料金"),
                                     QStringLiteral("車種"),     QStringLiteral("入口料金所"), QStringLiteral("出口料金所")};
    if (statement.terms.size() < passage.size())
        return false;
    for (int t = 0; t < passage.size(); ++t)
        if (statement.terms[t].column != passage[t])
            return false;
    bool found = false;
    const QString base = sqldialect::withDuplicateKeys(splitStatement(viewed).base, QStringLiteral("k"), &found);
    return found && base.trimmed().endsWith(QStringLiteral(" FROM k)"));
}
} // namespace

history::GridLoad history::loadGrid(history::HistoryGridModel &model, const QString &sourceText, qint16 viewType,
                                    const history::KeepGoing &keepGoing)
{
    return app::tagged(app::Procedure::LoadGrid, [&] {
        const QString viewed = sourceText; // it may be the shown rows' own, cleared below
        // The duplicate display groups the whole history once: its passages
        // go into a temporary table of this connection, and the labels and
        // every page read them from there.
        bool duplicates = false;
        sqldialect::withDuplicateKeys(viewed, QString(), &duplicates);
        const QString keysTable = duplicates ? keepDuplicateKeys(viewed, keepGoing) : QString();
        const QString source = duplicates ? sqldialect::withDuplicateKeys(viewed, keysTable) : viewed;
        history::GridLoad load;
        history::rememberShown({});
        // Taken before the rows are counted: a row stored in between makes a
        // later delete ask again rather than miss it.
        const QVariant highest = viewType == 2 ? history::highestRowKey() : QVariant();
        // The whole duplicate display counts its rows from the kept passages
        // (each with its number of copies) and takes its first page from the
        // passages that come first: the view is ordered by the passage's six
        // columns before anything else, and every passage has two rows or more.
        const GridStatement statement = splitStatement(source);
        const bool wholeDuplicates = duplicates && wholeDuplicateView(viewed, statement);
        // The labels: one aggregate over the rows, none of them read.
        // (The kept passages' own table names no history table: it is read
        // where the view's statement runs.)
        QSqlQuery totals = history::execute(
            history::route(DbConnection::History, viewed),
            wholeDuplicates ? totalsOverCounts(QStringLiteral("SELECT 通行料金,SUM(copies) AS n FROM ") + keysTable +
                                               QStringLiteral(" GROUP BY 通行料金"))
                            : history::gridTotalsSql(source));
        if (totals.next()) {
            load.totals.count = totals.value(0).toLongLong();
            load.totals.sum = totals.value(1).toLongLong();
        }
        totals.finish();
        if (viewType == 2)
            history::rememberShown({viewed, load.totals.count, highest});

        if (load.totals.count == 0 || (viewType != 1 && viewType != 2)) {
            model.clear();
            return load;
        }
        // The grid: the first page now, the others when they are shown.
        auto pages = std::make_unique<SqlPageSource>(statement);
        QString firstSql = pages->firstStatement(history::HistoryGridModel::kPageRows);
        if (wholeDuplicates) {
            QStringList keyOrder;
            for (int t = 0; t < 6; ++t)
                keyOrder << statement.terms[t].column + (statement.terms[t].descending ? QStringLiteral(" DESC")
                                                                                         : QStringLiteral(" ASC"));
            const QString firstKeys = QStringLiteral("(SELECT * FROM ") + keysTable + QStringLiteral(" ORDER BY ") +
                                      keyOrder.join(QLatin1Char(',')) + QStringLiteral(" LIMIT ") +
                                      QString::number(history::HistoryGridModel::kPageRows) +
                                      QStringLiteral(") AS first_passages");
            firstSql = SqlPageSource(splitStatement(sqldialect::withDuplicateKeys(viewed, firstKeys)))
                           .firstStatement(history::HistoryGridModel::kPageRows);
        }
        QSqlQuery first = history::execute(DbConnection::History, firstSql);
        const QSqlRecord fields = first.record();
        // Behind the row key, every column but the last (DATE_TIME, which only orders the rows).
        const int shown = qMax(0, fields.count() - 2);
        QStringList headers;
        for (int c = 1; c <= shown; ++c)
            headers << fields.fieldName(c);
        pages->setShownColumns(shown);
        const int rows = int(qMin<qint64>(load.totals.count, std::numeric_limits<int>::max()));
        history::GridPage firstPage = pages->fill(first, history::GridPage(), history::HistoryGridModel::kPageRows);
        model.setPaged(headers, rows, std::make_unique<GuardedPageSource>(std::move(pages)), std::move(firstPage));
        if (shown == 0) {
            model.clear();
        } else {
            const QList<int> &widths = viewType == 1 ? kStagingWidths : kHistoryWidths;
            for (int c = 0; c < shown && c < widths.size(); ++c)
                load.columnWidths << widths[c] / kTwipsPerPixel;
        }
        return load;
    });
}

QStringList history::historyCardNumbers()
{
    return app::tagged(app::Procedure::ListCardNumbers, [] {
        // The distinct numbers in order, read as "the next number after the
        // last one" from the index on CARD_ID: one probe per card, not a
        // pass over every row of the history (a Null has no next).
        const QString sql = QStringLiteral(
            "WITH RECURSIVE card(id) AS (SELECT MIN(CARD_ID) FROM ETC_DATA UNION ALL "
            "SELECT (SELECT MIN(CARD_ID) FROM ETC_DATA WHERE CARD_ID > card.id) FROM card WHERE card.id IS NOT NULL) "
            "SELECT id FROM card WHERE id IS NOT NULL;");
        QSqlQuery q = history::execute(DbConnection::History, sql);
        QStringList numbers;
        while (q.next()) {
            const QVariant value = q.value(0);
            if (!value.isNull()) // a row without a card number has no entry to offer
                numbers << value.toString();
        }
        q.finish();
        return numbers;
    });
}
