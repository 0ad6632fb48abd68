#pragma once
// "passlog server init": the one-time set-up of the shared history on its
// PostgreSQL server, run by the database's owner.

#include <QStringList>

namespace start {

// args: the words after "passlog server". Exit status 0 done, 1 failed, 2 usage.
int runServerCommand(const QStringList &args);

} // namespace start
