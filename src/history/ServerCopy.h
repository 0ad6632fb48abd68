#pragma once
// PostgreSQL's COPY protocol on the shared history's connection: the one
// Qt's driver holds, so a copy runs inside the transaction its statements
// began. Rows go in and come out a block at a time, with no statement text
// per row and no value object per field: the bulk paths (CSV取込, the copy
// to the server, DB登録, the CSV export) cost what the server's own COPY costs.
//
// A refusal of the server throws as throwServerError does (a lost connection
// is told apart from a refused row). Every Qt query on the connection must
// be finished before a copy starts and wait until it ends.
//
// No wait of a copy is unbounded: the client library is never left to block
// on the socket. A server silent for kServerSilenceMs (its process halted,
// its machine frozen: the connection stays up, so neither the keepalives nor
// lock_timeout end the wait) is given up with history::throwServerSilent().

#include "history/HistoryFileRows.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;

// How long a copy to or from the shared history waits for a server that
// sends and takes nothing before it gives up on it. Longer than
// lock_timeout (10 s), so that a lock another PC holds is refused by the
// server, with its own message, before the server is taken for stopped.
inline constexpr int kServerSilenceMs = 15000;

namespace history {

// The server stopped answering in the middle of an operation (a copy waited
// kServerSilenceMs for it): its connection is closed (the next operation
// connects again) and an ExpectedFailure names the server. The server rolls
// back the transaction by itself once it notices. (In Database.cpp, beside
// the connection it closes.)
[[noreturn]] void throwServerSilent();

// Rows into a table: COPY table (columns) FROM STDIN, text format.
class ServerCopyIn {
public:
    ServerCopyIn(QSqlDatabase db, const QString &table, const QStringList &columns);
    // An unfinished copy is abandoned: the server refuses it, and the
    // transaction it ran in can only roll back.
    ~ServerCopyIn();
    ServerCopyIn(const ServerCopyIn &) = delete;
    ServerCopyIn &operator=(const ServerCopyIn &) = delete;

    // The fields of a row, in the order of the columns; then endRow().
    void null();
    void integer(qint64 value);
    void boolean(bool value);
    void text(QStringView value);
    void text(std::string_view utf8);
    // A value of Qt's driver or of the history file by its own type.
    void field(const QVariant &value);
    void endRow();
    // Ends the copy; the number of rows the server took.
    qint64 finish();

private:
    void separate();
    void send();
    [[noreturn]] void abandon();

    pg_conn *m_conn = nullptr;
    QByteArray m_block;
    bool m_rowStarted = false;
    bool m_open = false;
    qint64 m_rows = 0;
};

// The rows of a select statement: COPY (select) TO STDOUT, text format.
// Its columns' names and types are asked for first, so the caller reads
// them by name.
class ServerCopyOut {
public:
    // keepGoing, when given, is asked every few thousand rows and while the
    // server is waited for; false ends the copy (next() returns false,
    // stopped() true).
    ServerCopyOut(QSqlDatabase db, const QString &select, std::function<bool()> keepGoing = {});
    ~ServerCopyOut();
    ServerCopyOut(const ServerCopyOut &) = delete;
    ServerCopyOut &operator=(const ServerCopyOut &) = delete;

    // The result column of that name (letter case aside), or -1.
    int column(const QString &name) const;
    bool next();
    bool stopped() const { return m_stopped; }

    // The same kinds as the history file's rows give, so that one writer reads both.
    using Kind = HistoryFileRows::Kind;
    Kind kind(int column) const;
    qint64 integer(int column) const;
    double real(int column) const;
    std::string_view bytes(int column) const; // valid until the next call of next()

private:
    void fail();

    pg_conn *m_conn = nullptr;
    QStringList m_names;
    std::vector<Kind> m_kinds;    // of each column when not Null
    std::vector<std::string> m_unescaped; // a field's text without its backslash sequences
    std::vector<std::string_view> m_fields;
    std::vector<bool> m_nulls;
    char *m_message = nullptr;    // the current row as the server sent it
    bool m_done = false;
    bool m_stopped = false;
    qint64 m_rowsRead = 0;
    std::function<bool()> m_keepGoing;
};

// The spots as the temporary table passlog_spots (card, dt) of the server
// connection, replacing what it held; a statement run next joins it.
void loadSpotsOnServer(QSqlDatabase db, const PassageSpots &spots);

// A large load into the shared history's ETC_DATA: more rows than the table
// holds are faster stored with the table's indexes built once at the end
// than kept up to date row by row. When the user owns the table (the role
// that ran "passlog server init"), the indexes are dropped here, inside the
// caller's transaction and under its exclusive lock (other PCs wait, within
// their bounded tries), and rebuild() makes them again before the commit; a
// rollback keeps them as they were. Otherwise nothing changes.
class ServerBulkLoad {
public:
    ServerBulkLoad(QSqlDatabase db, qint64 expectedRows, const std::function<bool()> &keepGoing);
    // False when keepGoing said no between two indexes (the caller rolls back).
    bool rebuild(const std::function<bool()> &keepGoing);
    bool dropped() const { return !m_indexes.isEmpty(); }

private:
    QSqlDatabase m_db;
    QStringList m_indexes; // the statements that make them again
};

} // namespace history
