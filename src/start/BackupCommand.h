#pragma once
// "passlog backup --out FILE" and "passlog restore FILE": a consistent copy
// of the history file, and a copy put back in its place.

#include <QStringList>

namespace start {

int runBackupCommand(const QStringList &args);
int runRestoreCommand(const QStringList &args);

} // namespace start
