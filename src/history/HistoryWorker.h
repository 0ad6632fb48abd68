#pragma once
// Long statements on the history file without a frozen window: the work runs
// on a thread of its own, on a connection of its own to the same file, while
// the calling thread asks keepGoing() about every 50 ms (the window shows its
// progress and handles its events there). A "no" from keepGoing() is passed
// to the work, which then undoes what it did instead of committing it.
//
// Used only where a caller asks for it (the window's operations); without a
// keepGoing the same work runs on the program's own connection, at once.

#include "app/Failure.h"

#include <QSqlDatabase>

#include <functional>

namespace history {

// Asked on the calling thread while long work runs: false stops it.
using KeepGoing = std::function<bool()>;

// Work that was stopped by the user: nothing of it was kept.
class WorkStopped : public ExpectedFailure {
public:
    WorkStopped() : ExpectedFailure(-1, QString()) {}
};

// Runs work(connection, stopped) on a worker thread with its own connection
// to the history file, and returns when it has ended; its failure is thrown
// here. stopped() tells the work whether keepGoing() has said no.
void runOnOwnHistoryConnection(const std::function<void(QSqlDatabase, const std::function<bool()> &)> &work,
                               const KeepGoing &keepGoing);

} // namespace history
