#include "history/HistoryWorker.h"

#include "history/Database.h"

#include <QAtomicInt>
#include <QDeadlineTimer>
#include <QThread>

#include <exception>

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
    QThread *worker = QThread::create([&] {
        const QString name = QStringLiteral("passlog_history_worker");
        try {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                db.setDatabaseName(path);
                db.setConnectOptions(options);
                if (!db.open())
                    history::throwSqlError(db.lastError(), path);
                work(db, [&] { return stopped.loadAcquire() != 0; });
                db.close();
            }
        } catch (...) {
            failure = std::current_exception();
        }
        QSqlDatabase::removeDatabase(name);
    });
    worker->start();
    while (!worker->wait(QDeadlineTimer(50))) {
        if (!stopped.loadAcquire() && keepGoing && !keepGoing())
            stopped.storeRelease(1);
    }
    delete worker;
    if (failure)
        std::rethrow_exception(failure);
}
