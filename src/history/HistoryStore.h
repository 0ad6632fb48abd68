#pragma once
// The history store of this run: where the history lives (the user's file,
// a folder of the run's own, or the shared history on a server) and the
// bookkeeping of its connections. Only the history layer reads and writes
// it; the layers above ask through history/Database.h.
//
// This is one of the seams tests replace: a test that needs a store of its
// own opens a history::StoreScope (every TestHarness does); until the scope
// ends history::store() is a fresh store, and the one before comes back.

#include "history/Database.h"
#include "history/HistoryUse.h"
#include "history/ShownRowsRecord.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace history {

// A connection to the server tried on a thread of its own (see
// history::connectServerInBackground), and what became of it.
struct BackgroundTry {
    QThread *thread = nullptr;
    QString away; // empty: the server answered and its table has the right shape
    long number = 0;
};

struct HistoryStore {
    // The history is a file in this folder for the run (the demo's), never
    // the user's history file or the shared history; empty: the user's.
    QString privateFolder;
    // This process's use of the history file, from its open to its close.
    std::unique_ptr<HistoryUse> fileUse;
    bool openedForReading = false; // the history file is open read-only
    QDate fullCheckDay;            // the day the history file last passed its full check
    // The history rows the grid was last loaded with (see history/ShownRows.h).
    ShownRows shown;
    // What the last open removed from the file that the program does not make.
    QStringList schemaNotices;

    // The shared history named by the settings when the history file was
    // opened (none: the history is the file).
    std::optional<HistoryServer> server;
    QString serverAway;         // why the server was not reached the last time (empty while connected)
    int serverConnectRound = 0; // background tries to reach it; the newest wins
    std::unique_ptr<BackgroundTry> background;
    std::function<void()> serverListener; // told when the server's state changes
};

HistoryStore &store();

class StoreScope {
public:
    StoreScope();
    ~StoreScope();
    StoreScope(const StoreScope &) = delete;
    StoreScope &operator=(const StoreScope &) = delete;

private:
    HistoryStore m_store;
    HistoryStore *m_before;
};

} // namespace history
