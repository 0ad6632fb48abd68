#pragma once
// The program writes its statements in one dialect of its own, that of the
// Access files it once used ("DELETE * FROM", True and False, the correlated
// duplicate condition). This is the one place that turns such a text into a
// statement SQLite or PostgreSQL runs with the same meaning, plus the helper
// that keeps typed values inside their quotes.

#include <QString>
#include <QStringList>

namespace sqldialect {

// A value as it goes between single quotes in a statement: every quote
// doubled, so that no value can end its literal early. Values without
// quotes come back unchanged.
QString quoted(const QString &value);

// The correlated duplicate condition exactly as the duplicate statements
// write it, for the given table (from "WHERE ご利用日 " to ".出口料金所) ").
QString correlatedDuplicateCondition(const QString &table);

// The grouped form run in its place: the rows whose six display columns
// occur at least twice in the table. Same rows, one pass over the table
// instead of one grouping per row.
QString groupedDuplicateCondition(const QString &table);

// The passages that occur at least twice in table, as a query of the six
// columns (and, with copies, their number of rows as "copies"): what the
// duplicate condition groups the table for.
QString duplicateKeysQuery(const QString &table, bool copies = false);

// The statement with the correlated duplicate condition taking its passages
// from keysTable (the result of duplicateKeysQuery, kept for a while)
// instead of grouping the table again; found tells whether it had one. Any
// other statement comes back unchanged.
QString withDuplicateKeys(const QString &jet, const QString &keysTable, bool *found = nullptr);

// The program's text to SQLite text. Outside string literals:
//  - "DELETE * FROM t" and "DELETE <columns> FROM t" become "DELETE FROM t";
//  - the correlated duplicate condition becomes its grouped form;
//  - the words True and False become 1 and 0;
//  - a DELETE through the duplicate condition keeps one copy of every
//    passage (see keepOneCopy).
// String literals are left exactly as they are.
QString toSqlite(const QString &jet);

// A duplicate delete ("DELETE FROM t " + the grouped condition + more
// conditions) as a statement that deletes the same rows except where that
// would leave no copy of a passage in the table: of a passage whose every
// copy the delete hits, the earliest stored copy (lowest row key: rowid on
// SQLite, ROW_ID on the server; the first registered) stays. Any other
// statement comes back unchanged.
QString keepOneCopy(const QString &sqlite, const QString &rowKey);

// The program's text to PostgreSQL text: the same as for SQLite, except that True and
// False stay (the server has booleans), names with characters outside ASCII
// go between double quotes, and every ASC / DESC order term gets NULLS FIRST
// / NULLS LAST, so that Null sorts before every value as in SQLite.
QString toPostgres(const QString &jet);

// The parts of a statement outside string literals.
QStringList codeParts(const QString &sql);

// A source that is a bare table name rather than a statement.
bool isTableName(const QString &source);

} // namespace sqldialect
