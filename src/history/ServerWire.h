#pragma once
// The wire under the copies: waits on the shared history's socket that are
// never unbounded, and the results of statements sent through the client
// library on the connection Qt's driver holds. Internal to ServerCopy.

#include <QSqlDatabase>
#include <functional>
#include <libpq-fe.h>

namespace history::wire {

// Waits on the server's socket in slices this long, so that 中止 is asked
// between them.
constexpr int kWaitSliceMs = 250;

enum class Waited { Ready, Stopped };

// Thrown where the server stayed silent for too long; each entry point of
// the copies forgets the connection and turns it into
// history::throwServerSilent(), which closes it.
struct ServerSilent {};

// Waits for the server's socket: between slices keepGoing is asked (false:
// Stopped), and a server silent for kServerSilenceMs is given up.
Waited waitForServer(PGconn *conn, bool forWrite, const std::function<bool()> &keepGoing = {});
// The next result of what was sent, waiting for it within the bound (null
// after the last).
PGresult *nextResult(PGconn *conn);
// Reads and drops what the server still sends for a statement, within the
// bound; for clean-ups that must not throw.
void dropResults(PGconn *conn);
// The client library's connection under Qt's driver.
PGconn *connectionOf(QSqlDatabase db);
// The server's refusal (or the lost connection) as the rest of the program reports it.
[[noreturn]] void throwFrom(PGconn *conn, PGresult *result);
// One statement that must end in status; its result.
PGresult *expect(PGconn *conn, PGresult *result, ExecStatusType status);
// The first result of a statement just sent (sent: what PQsend… returned),
// which must be in status.
PGresult *expectSent(PGconn *conn, int sent, ExecStatusType status);
// A statement just sent that ends in status, with nothing after it.
void runSent(PGconn *conn, int sent, ExecStatusType status);
// Sends what the client library holds, within the bound.
void flushAll(PGconn *conn);

} // namespace history::wire
