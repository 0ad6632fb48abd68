#include "history/ServerWire.h"

#include "app/Failure.h"
#include "history/Database.h"
#include "history/ServerCopy.h"

#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <sys/socket.h>
#endif

namespace history::wire {

namespace {

// Waits until the connection's socket can be read (forWrite: also written)
// or the slice is over; true when it can.
bool socketReady(PGconn *conn, bool forWrite, int ms)
{
    const auto sock = PQsocket(conn);
    if (sock < 0)
        return true; // (the next call of the client library reports the lost connection)
#ifdef _WIN32
    fd_set readable, writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_SET(SOCKET(sock), &readable);
    if (forWrite)
        FD_SET(SOCKET(sock), &writable);
    timeval timeout{ms / 1000, (ms % 1000) * 1000};
    return select(0, &readable, forWrite ? &writable : nullptr, nullptr, &timeout) != 0; // (an error: let libpq say it)
#else
    pollfd p{sock, short(POLLIN | (forWrite ? POLLOUT : 0)), 0};
    const int n = ::poll(&p, 1, ms);
    return n != 0 && !(n < 0 && errno == EINTR);
#endif
}

// The server stopped answering: its socket is shut, so that nothing of the
// client library waits for it any more (closing the connection sends no
// farewell into a full buffer), and the operation ends with the server named.
[[noreturn]] void giveUp(PGconn *conn)
{
    const auto sock = PQsocket(conn);
    if (sock >= 0) {
#ifdef _WIN32
        ::shutdown(SOCKET(sock), SD_BOTH);
#else
        ::shutdown(sock, SHUT_RDWR);
#endif
    }
    throw ServerSilent{};
}

} // namespace


// Waits for the server's socket: between slices keepGoing is asked (false:
// Stopped), and a server silent for kServerSilenceMs is given up.
Waited waitForServer(PGconn *conn, bool forWrite, const std::function<bool()> &keepGoing)
{
    QElapsedTimer silent;
    silent.start();
    for (;;) {
        if (socketReady(conn, forWrite, kWaitSliceMs))
            return Waited::Ready;
        if (keepGoing && !keepGoing())
            return Waited::Stopped;
        if (silent.elapsed() >= kServerSilenceMs)
            giveUp(conn);
    }
}

// The next result of what was sent, waiting for it within the bound (null
// after the last). The connection is in the client library's blocking mode,
// but nothing here blocks: input is read only once it has arrived.
PGresult *nextResult(PGconn *conn)
{
    for (;;) {
        if (!PQconsumeInput(conn))
            return PQgetResult(conn); // lost: the error result, or null
        if (!PQisBusy(conn))
            return PQgetResult(conn);
        waitForServer(conn, false);
    }
}

// Reads and drops what the server still sends for a statement, within the
// bound; for clean-ups that must not throw: a silent server's socket is shut
// (the next statement then finds the connection lost).
void dropResults(PGconn *conn)
{
    try {
        while (PGresult *rest = nextResult(conn))
            PQclear(rest);
    } catch (const ServerSilent &) {
    }
}

PGconn *connectionOf(QSqlDatabase db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // (Qt names the type by its typedef or by the struct, as its version has it.)
    if (!handle.isValid() || (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        throw Failure(-1, QStringLiteral("共有の利用履歴サーバーの接続がありません。"));
    PGconn *conn = *static_cast<PGconn *const *>(handle.constData());
    if (!conn)
        throw Failure(-1, QStringLiteral("共有の利用履歴サーバーの接続がありません。"));
    return conn;
}

// The server's refusal (or the lost connection) as the rest of the program reports it.
[[noreturn]] void throwFrom(PGconn *conn, PGresult *result)
{
    QString text = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(conn)).trimmed();
    if (text.isEmpty())
        text = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const bool lost = PQstatus(conn) == CONNECTION_BAD;
    if (result)
        PQclear(result);
    // The results a refused copy leaves behind, so that the connection takes the next statement.
    if (!lost)
        dropResults(conn);
    history::throwServerError(QSqlError(QString(), text, lost ? QSqlError::ConnectionError : QSqlError::StatementError,
                               state ? QString::fromLatin1(state) : QString()));
}

// One statement that must end in status; its result.
PGresult *expect(PGconn *conn, PGresult *result, ExecStatusType status)
{
    if (!result || PQresultStatus(result) != status)
        throwFrom(conn, result);
    return result;
}

// The first result of a statement just sent (sent: what PQsend… returned),
// which must be in status.
PGresult *expectSent(PGconn *conn, int sent, ExecStatusType status)
{
    if (!sent)
        throwFrom(conn, nullptr);
    return expect(conn, nextResult(conn), status);
}

// A statement just sent that ends in status, with nothing after it.
void runSent(PGconn *conn, int sent, ExecStatusType status)
{
    PQclear(expectSent(conn, sent, status));
    while (PGresult *rest = nextResult(conn))
        PQclear(rest);
}

// Sends what the client library holds, within the bound: a server that
// takes nothing for kServerSilenceMs is given up.
void flushAll(PGconn *conn)
{
    for (;;) {
        const int left = PQflush(conn);
        if (left == 0)
            return;
        if (left < 0)
            throwFrom(conn, nullptr);
        waitForServer(conn, true);
        // (What the server said meanwhile, an error say, is read so that it never waits on us.)
        if (!PQconsumeInput(conn))
            throwFrom(conn, nullptr);
    }
}

} // namespace history::wire
