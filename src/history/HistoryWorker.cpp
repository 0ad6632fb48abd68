#include "history/HistoryWorker.h"

#include "history/Database.h"

#include <QAtomicInt>
#include <QDeadlineTimer>
#include <QThread>

#include <QSqlDriver>
#include <QVariant>

#include <exception>
#include <mutex>
#include <sqlite3.h>

namespace {
sqlite3 *sqliteHandle(const QSqlDatabase &db)
{
    const QVariant v = db.driver()->handle();
    return v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0 ? *static_cast<sqlite3 *const *>(v.data()) : nullptr;
}
} // namespace

void history::runOnOwnHistoryConnection(const std::function<void(QSqlDatabase, const std::function<bool()> &)> &work,
                               const history::KeepGoing &keepGoing)
{
    // Taken here: a connection belongs to the thread that made it.
    const QSqlDatabase own = history::database(DbConnection::History);
    const QString path = own.databaseName();
    const QString options = own.connectOptions();
    if (keepGoing && !keepGoing())
        throw history::WorkStopped(); // stopped before it began
    QAtomicInt stopped(0);
    std::exception_ptr failure;
    // A stop interrupts the statement that runs, so that 中止 answers at once
    // also in the middle of one long statement.
    std::mutex handleMutex;
    sqlite3 *handle = nullptr;
    QThread *worker = QThread::create([&] {
        const QString name = QStringLiteral("passlog_history_worker");
        try {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                db.setDatabaseName(path);
                db.setConnectOptions(options);
                if (!db.open())
                    history::throwSqlError(db.lastError(), path);
                {
                    const std::lock_guard lock(handleMutex);
                    handle = sqliteHandle(db);
                }
                work(db, [&] { return stopped.loadAcquire() != 0; });
                {
                    const std::lock_guard lock(handleMutex);
                    handle = nullptr;
                }
                db.close();
            }
        } catch (...) {
            failure = std::current_exception();
        }
        QSqlDatabase::removeDatabase(name);
    });
    worker->start();
    while (!worker->wait(QDeadlineTimer(50))) {
        if (!stopped.loadAcquire() && keepGoing && !keepGoing()) {
            stopped.storeRelease(1);
            const std::lock_guard lock(handleMutex);
            if (handle)
                sqlite3_interrupt(handle);
        }
    }
    delete worker;
    if (failure && stopped.loadAcquire())
        throw history::WorkStopped(); // what the interrupted work threw is the stop
    if (failure)
        std::rethrow_exception(failure);
}
