#pragma once
// The connections of the history as the history's own files share them:
// their names in Qt's registry, and the shared history's connection (made
// on demand, tried in the background at the start, closed when it broke)
// with the checks of its tables' shape. Not for use outside history/.

#include "history/Database.h"

#include <QSqlDatabase>
#include <QString>

namespace history {

inline QString connectionName(DbConnection which)
{
    switch (which) {
    case DbConnection::History: return QStringLiteral("passlog_history");
    case DbConnection::Master: return QStringLiteral("passlog_master");
    case DbConnection::Server: return QStringLiteral("passlog_server");
    }
    return {};
}

// The shared history the settings name when the history file is opened
// (none when they name none); whether it answers is found out on first use.
void useServerOf(const HistoryServer &setting);
// Lets go of the shared history: its connection, the start's try, the setting.
void forgetServer();
bool serverConfigured();
// The shared history's connection, connecting first when it is not
// connected (each operation after a failure tries once).
QSqlDatabase serverConnection();
// A connection to server under name, not yet opened; a setting the client
// library could not use is refused.
QSqlDatabase addServerConnection(const HistoryServer &server, const QString &name);
// Why the shared history could not be reached, for the user.
QString serverAwayText(const HistoryServer &server, const QString &reason);

// What is wrong with the shape of the shared history's table (or, with
// deletedShapeProblem, of the table of deleted rows), read from the
// catalogue only: empty when it has every column with its type.
// withoutRowUid: a table from before row identities passes.
QString serverShapeProblem(QSqlDatabase db, const HistoryServer &server, bool withoutRowUid = false);
QString deletedShapeProblem(QSqlDatabase db, const HistoryServer &server);
// Refuses a server whose tables have another shape, naming the problem.
[[noreturn]] void refuseShape(const HistoryServer &server, const QString &problem);

} // namespace history
