#pragma once
// What a failure of the database engine means to the user, in Japanese, for
// the failures a user can do something about.

#include <QSqlError>
#include <QString>

namespace history {

// The Japanese sentence for the engine's error, or an empty text when the
// error is not one of the common ones (cannot open, in use by another
// program, disk full, read-only, damaged file). With the database file's
// path, a refused write that comes from the log's index file (-shm) left
// read-only beside a writable file names that file instead.
QString databaseErrorSentence(const QSqlError &error, const QString &path = QString());
// The same for SQLite's own result code (primary or extended).
QString databaseErrorSentence(long code, const QString &path = QString());

// What a failed connection to the shared history's server means, in
// Japanese with the next step, from the client library's text: a refused
// password, an unknown user or database, a certificate that does not
// check out, or else the network and the server.
QString serverConnectSentence(const QString &libraryText);

} // namespace history
