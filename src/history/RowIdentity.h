#pragma once
// The identity of a stored row: ROW_UID, a random 128-bit number in
// hexadecimal, given when the row is stored and kept by every copy of it.

#include <QSqlDatabase>
#include <QString>

namespace history {

inline const QString kRowUidColumn = QStringLiteral("ROW_UID");
// A new random identity, in SQL, for rows the history file stores.
inline const QString kNewRowUidSql = QStringLiteral("lower(hex(randomblob(16)))");

// Every row of the history file's ETC_DATA has a stable identity from the
// time it is stored: a file from before gets the column and an identity for
// each row; rows stored without one get theirs here. Run at each open of
// the history file.
void ensureRowIdentity(QSqlDatabase db);

// The name under which this history file marked the rows it copied to the
// server before rows had identities of their own (none when it never did).
QString legacyPcId(QSqlDatabase local);

} // namespace history
