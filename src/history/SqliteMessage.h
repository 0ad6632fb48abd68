#pragma once
// SQLite's own words for what went wrong on a connection (or, without one,
// for a result code), for the messages that name them.

#include <QString>
#include <sqlite3.h>

namespace history {

inline QString sqliteMessage(sqlite3 *db, int rc)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
}

} // namespace history
