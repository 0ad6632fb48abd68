#pragma once
// What the program keeps in memory from one operation to the next, in one
// place: the settings held for the run, the reader link's counters, what the
// grid shows, the demo's private files and the history connection's
// bookkeeping. Besides it only objects with an owner keep state: the reader
// link with its port and card table (reader/ReaderLink.h, owned by the
// application object), Qt's database connections (history/Database.cpp) and
// the start sequence's window and instance lock (start/Startup.cpp).
//
// The state of the run is app::state(). A test that needs a clean state of
// its own opens an app::StateScope (every TestHarness does): until the scope
// ends app::state() is a fresh ProgramState, and the one before comes back.

#include <QDate>
#include <QMap>
#include <QString>
#include <QVariant>

// What the grid shows, so that print, export, delete and re-sort reproduce
// the same rows. Only history::viewStatement fills it.
struct ViewConditionRecord {
    qint16 ViewMode = 0;   // 0 nothing, 1 staging table (card read), 2 history table
    qint16 SelectMode = 0; // 0 all records, 1 date/time range
    QString CardNo;        // card-number condition of a history view, "0000" = all cards
    QString StartDateTime; // "YYYY/MM/DD-HH:MM:SS", empty when SelectMode is 0
    QString EndDateTime;
};

// What the grid showed of the history, so that a delete removes exactly the
// rows the user was asked about (see history/ShownRows.h).
struct ShownRows {
    QString source;      // the statement the grid was loaded from ("" when none)
    qint64 count = 0;    // its rows
    QVariant highestKey; // the highest row key of ETC_DATA just before
};

namespace app {

struct ProgramState {
    // The grid.
    ViewConditionRecord view; // the conditions of what it shows
    ShownRows shown;          // the history rows it shows (set by each history load)
};

ProgramState &state();

class StateScope {
public:
    StateScope();
    ~StateScope();
    StateScope(const StateScope &) = delete;
    StateScope &operator=(const StateScope &) = delete;

private:
    ProgramState m_state;
    ProgramState *m_before;
};

} // namespace app
