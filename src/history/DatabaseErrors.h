#pragma once
// What a failure of the database engine means to the user, in Japanese, for
// the failures a user can do something about.

#include <QSqlError>
#include <QString>

// The Japanese sentence for the engine's error, or an empty text when the
// error is not one of the common ones (cannot open, in use by another
// program, disk full, read-only, damaged file).
QString databaseErrorSentence(const QSqlError &error);
