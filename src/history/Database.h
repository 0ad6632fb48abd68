#pragma once
// The two database files of the program and the primitives every other
// database procedure uses. The procedures keep the Access file names
// ("ETC_DAT.mdb", "ETC_MST.mdb") as their arguments; on disk the files are
// SQLite databases named with ".sqlite" instead of ".mdb".

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>

inline const QString kDatFile = QStringLiteral("ETC_DAT.mdb");
inline const QString kMstFile = QStringLiteral("ETC_MST.mdb");
inline const QString kTableData = QStringLiteral("ETC_DATA");
inline const QString kTableTemp = QStringLiteral("ETC_TEMP");
inline const QString kTableItc = QStringLiteral("ITC_MASTER");
inline const QString kTableJid = QStringLiteral("JID_MASTER");
inline const QString kTableVersion = QStringLiteral("VERSION");

// History: the history file (ETC_TEMP, and ETC_DATA unless shared); Master:
// the master file; Server: the shared history on a PostgreSQL server.
enum class DbConnection { History, Master, Server };

inline const QString kSectionDatabase = QStringLiteral("DATABASE");

namespace history {

// Where the history table lives: the [DATABASE] section of the settings file,
//   Driver=SQLITE (the default: the history file in the program folder) or
//   Driver=PSQL with Host, Port, Name (the database) and User, and
//   optionally SSLMode (disable, allow, prefer, require, verify-ca,
//   verify-full: how TLS is used and the server's certificate checked) and
//   SSLRootCert (the file of the certificate authority that signed it).
// The password is never in the settings file: the server's client library
// takes it from the password file (~/.pgpass, or the file PGPASSFILE names)
// or from PGPASSWORD.
struct HistoryServer {
    bool shared = false;
    QString host;
    int port = 0;
    QString name;
    QString user;
    QString sslMode;     // empty: the client library's default
    QString sslRootCert; // empty: the client library's default
    QString describe() const; // "PostgreSQL host:port/name", for error texts
};

HistoryServer serverSetting();
// True when the settings put the history table on a server, whether or not
// the server can be reached right now.
bool usesServer();
// Why the shared history's server could not be reached the last time it was
// tried (empty while it is connected, and without a server).
QString serverAwayReason();
// True while the shared history's connection is open (after a first
// operation, or the background connection below, reached it).
bool serverConnected();
// Called (on the program's thread) whenever the shared history was reached
// or found away: the window shows the state from it. Empty: nobody hears.
void setServerStateListener(std::function<void()> listener);
// Tries to reach the shared history on a thread of its own, so that the
// window need not wait for a server that does not answer; done() runs on
// the program's event loop once the server has answered and is connected
// (a failure is told to the state listener only). An operation that needs
// the server in the meantime waits for this try rather than making another.
void connectServerInBackground(std::function<void()> done);

} // namespace history

// How long a change of the shared history waits in all for another PC's
// lock of the table before it gives up, and how long one try waits.
inline constexpr int kServerLockWaitMs = 10000;
inline constexpr int kServerLockTryMs = 250;
namespace history {

// Takes a lock of the shared history's table in the open transaction of db
// (mode: "SHARE ROW EXCLUSIVE", ...), in short tries: between them
// keepGoing is asked (the progress with 中止 repaints there); false throws
// WorkStopped. Another PC holding the table for longer than
// kServerLockWaitMs ends in an ExpectedFailure saying so.
void lockServerTable(QSqlDatabase db, const QString &mode, const std::function<bool()> &keepGoing = {});
// The writers that add to the shared history by what it already holds
// (CSV取込, the copy of a history file) take turns: an advisory lock of the
// server, held until db's transaction ends, taken in the same bounded,
// stoppable tries, so that two PCs at once add what one of them alone would.
void lockServerHistoryWriters(QSqlDatabase db, const std::function<bool()> &keepGoing = {});

// "passlog server init": creates the shared history's table and indexes on
// the server the settings name (or brings a table from before up to date),
// as the database's owner, once. Safe to repeat; a table of another shape is
// refused with nothing changed. Returns what to tell the owner: the GRANT
// lines for the role of the day-to-day PCs.
QString initServer();
// The statements that give a day-to-day role what the program needs, and no more.
QString serverGrants(const QString &role);

// The connection a statement runs on: History statements that name ETC_DATA
// go to the server while there is one.
DbConnection route(DbConnection which, const QString &source);

// A failure of the server as an ExpectedFailure naming the server: the
// operation ends with a warning and the program goes on. When the connection
// is gone it is closed, and the next operation connects again.
[[noreturn]] void throwServerError(const QSqlError &error);

// The statement a source stands for on the server.
QString serverText(const QString &source);

QString serverSchemaSql();

// ReadOnly: the caller only reads the history (an export): the file is
// opened read-only, so that the open takes no lock, waits for no writer and
// changes nothing in it.
enum class HistoryAccess { ReadWrite, ReadOnly };

// The history is used (shared) from its open to its close: a restore that
// runs is waited for (the notice is told so, by default on standard error).
void openDatabase(const QString &fileName, HistoryAccess access = HistoryAccess::ReadWrite);
void setHistoryUseWaitNotice(std::function<void(const QString &)> notice);
// What the last opens removed from the history file that the program does
// not make (triggers, views, other programs' indexes), to be told the user.
QStringList takeSchemaNotices();
// The files the program keeps in its data folder (the databases, their logs,
// stamps and locks): no output is ever written onto one of them.
QStringList programFiles();
void closeDatabase(const QString &fileName);
bool hasRows(const QString &source);
void runStatement(const QString &statement);

// The name on disk of "ETC_DAT.mdb" / "ETC_MST.mdb": "ETC_DAT.sqlite" /
// "ETC_MST.sqlite". Other names are returned unchanged.
QString diskFileName(const QString &fileName);
// Full path of a database file in the program folder.
QString databasePath(const QString &fileName);

// For this run the history is a file in folder (the demo's, which goes with
// it), never the user's history file or the shared history on a server.
// Empty: the user's history again.
void usePrivateHistory(const QString &folder);
bool usesPrivateHistory();

// True while the connection is open.
bool isOpen(DbConnection which);
QSqlDatabase database(DbConnection which);

// A refused statement as a Failure: the database's error number (-1 when it
// has none) and text, with an optional context (a file, a statement) after it.
// The common failures (cannot open, in use, disk full, read-only, damaged)
// start with a Japanese sentence and end with the full path of the file:
// `file`, or the context when that is a path, or else the history database.
[[noreturn]] void throwSqlError(const QSqlError &error, const QString &context = QString(),
                                const QString &file = QString());

// Runs text already in the store's dialect on q; a refusal throws as
// history::throwServerError (server) or throwSqlError does.
void runText(QSqlQuery &q, const QString &sql, bool server = false);

// The one execution point: runs a statement in the program's own dialect (or
// opens a bare table name, in stored order) on one of the two connections and returns the
// result positioned before its first row. A statement the database refuses
// throws Failure with the database's error number and text.
// Values given go in for the statement's "?" placeholders, in order: a
// value is never part of the statement's text.
QSqlQuery execute(DbConnection which, const QString &source, const QVariantList &values = {});

// A statement with the values of its "?" placeholders, in order.
struct BoundStatement {
    QString sql;
    QVariantList values;
};

// The statement a source stands for: a table name becomes
// "SELECT * FROM <name> ORDER BY rowid", a statement is translated to SQLite.
QString sqliteText(const QString &source);

// The column that identifies a row of the table a statement reads, for
// ordering ties and paging: SQLite's rowid, the server's ROW_ID.
QString rowKeyColumn(const QString &statement);

// Runs a script of statements separated by ";" at line ends (the schema and
// master files of data/) on an open database; throws Failure on the first
// refused statement.
void runScript(QSqlDatabase db, const QString &script);

// The schema of the history database (data/schema_history.sql).
QString historySchemaSql();

} // namespace history
