#pragma once
// The rows of a statement on the history file read straight from SQLite, as
// it stores them (text as UTF-8 bytes), without a value object per field: for
// writers of large files, which turn the bytes into their own form at once.
// Statements that go to the shared history's server are not for this reader
// (see readsFile); those go through history::execute.

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace history {

// Where passages lie: each call gives the next card number and DATE_TIME
// (UTF-8, as stored) and returns true, or returns false after the last.
// A statement reads them as the table passlog_spots (card, dt).
using PassageSpots = std::function<bool(QByteArray &card, QByteArray &dateTime)>;

class HistoryFileRows {
public:
    // True when the statement runs on the history file itself.
    static bool readsFile(const QString &jetStatement);

    // Runs the statement on a read-only connection of its own to the history
    // file (it sees what has been committed). keepGoing, when given, is asked
    // now and then while the database works, also while it sorts before the
    // first row; false stops the statement (next() returns false, stopped()
    // true). A refused statement throws Failure.
    // With spots, they are a temporary table passlog_spots of this connection first.
    explicit HistoryFileRows(const QString &jetStatement, std::function<bool()> keepGoing = {},
                             const PassageSpots &spots = {});
    ~HistoryFileRows();
    HistoryFileRows(const HistoryFileRows &) = delete;
    HistoryFileRows &operator=(const HistoryFileRows &) = delete;

    // The result column of that name, or -1.
    int column(const QString &name) const;

    // Moves to the next row; false after the last one or when stopped.
    bool next();
    bool stopped() const { return m_stopped; }

    enum class Kind { Null, Integer, Real, Text, Blob };
    // The value of a column of the current row (column >= 0).
    Kind kind(int column) const;
    qint64 integer(int column) const;
    double real(int column) const;
    // A text (or blob) value's bytes, valid until the next call of next().
    std::string_view bytes(int column) const;

private:
    static int progress(void *self);
    void loadSpots(const PassageSpots &spots, const QString &path);

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statement = nullptr;
    std::function<bool()> m_keepGoing;
    bool m_stopped = false;
    bool m_done = false;
};

} // namespace history
