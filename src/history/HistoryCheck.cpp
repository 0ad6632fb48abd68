#include "history/HistoryCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <mutex>
#include <sqlite3.h>
#include <thread>

namespace history {

namespace {

enum class State { Sound, Checking, Damaged };

struct Check {
    std::atomic<State> state{State::Sound};
    std::atomic<bool> checkedSound{false};
    std::mutex mutex;  // guards damage and db
    QString damage;    // the first problem the check found
    sqlite3 *db = nullptr; // the check's connection while it runs
    std::thread thread;
    CheckWaitHandler waitHandler;
    std::function<void(const QString &)> damageHandler;
    ~Check() // a run that ends without closing the file
    {
        {
            const std::lock_guard lock(mutex);
            if (db)
                sqlite3_interrupt(db);
        }
        if (thread.joinable())
            thread.join();
    }
};

Check &check()
{
    static Check c;
    return c;
}

// Reads every page of the file on a read-only connection: empty when sound,
// else the first problem (or why the file could not be read).
QString fullCheck(const QString &path, Check &c)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return why;
    }
    sqlite3_busy_timeout(db, 5000);
    {
        const std::lock_guard lock(c.mutex);
        c.db = db;
    }
    sqlite3_stmt *q = nullptr;
    QString result;
    if (sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &q, nullptr) != SQLITE_OK) {
        result = QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        const int rc = sqlite3_step(q);
        if (rc == SQLITE_ROW) {
            const QString first = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
            if (first != QLatin1String("ok"))
                result = first;
        } else if (rc != SQLITE_INTERRUPT) {
            result = QString::fromUtf8(sqlite3_errmsg(db));
        } else {
            result = QStringLiteral("interrupted");
        }
    }
    sqlite3_finalize(q);
    {
        const std::lock_guard lock(c.mutex);
        c.db = nullptr;
    }
    sqlite3_close(db);
    return result;
}

} // namespace

QString damagedHistoryText(const QString &damage)
{
    return QStringLiteral("利用履歴ファイルが壊れています。これ以上壊さないように、このファイルには書き込みません"
                          "(登録・削除・取込・印刷済みの記録はできません)。バックアップから戻すか、修復してください。 (") +
           damage + QLatin1Char(')');
}

void startBackgroundCheck(const QString &path)
{
    stopBackgroundCheck();
    Check &c = check();
    c.state = State::Checking;
    c.checkedSound = false;
    QObject *receiver = QCoreApplication::instance();
    c.thread = std::thread([&c, path, receiver] {
        const QString problem = fullCheck(path, c);
        if (problem == QLatin1String("interrupted")) {
            c.state = State::Sound; // closed before the end: nothing known, nothing vouched for
            return;
        }
        {
            const std::lock_guard lock(c.mutex);
            c.damage = problem.isEmpty() ? QString()
                                         : QStringLiteral("ファイル '") + QDir::toNativeSeparators(path) +
                                               QStringLiteral("' が壊れています。 ") + problem;
        }
        c.checkedSound = problem.isEmpty();
        c.state = problem.isEmpty() ? State::Sound : State::Damaged;
        if (!problem.isEmpty() && receiver)
            QMetaObject::invokeMethod(receiver, [&c] {
                if (c.damageHandler && c.state == State::Damaged) {
                    QString damage;
                    {
                        const std::lock_guard lock(c.mutex);
                        damage = c.damage;
                    }
                    c.damageHandler(damage);
                }
            }, Qt::QueuedConnection);
    });
}

void markCheckedSound()
{
    stopBackgroundCheck();
    check().checkedSound = true;
}

void stopBackgroundCheck()
{
    Check &c = check();
    {
        const std::lock_guard lock(c.mutex);
        if (c.db)
            sqlite3_interrupt(c.db);
    }
    if (c.thread.joinable())
        c.thread.join();
    c.state = State::Sound;
    c.checkedSound = false;
    const std::lock_guard lock(c.mutex);
    c.damage.clear();
}

bool checkedSound() { return check().checkedSound; }

bool checkRunning() { return check().state == State::Checking; }

void requireSoundHistory(const history::KeepGoing &keepGoing)
{
    Check &c = check();
    if (c.state == State::Checking) {
        const history::KeepGoing ask = keepGoing ? keepGoing : c.waitHandler ? c.waitHandler() : history::KeepGoing();
        while (c.state == State::Checking) {
            if (ask && !ask())
                throw history::WorkStopped();
            QThread::msleep(ask ? 50 : 10);
        }
    }
    if (c.state == State::Damaged) {
        QString damage;
        {
            const std::lock_guard lock(c.mutex);
            damage = c.damage;
        }
        throw ExpectedFailure(11, damagedHistoryText(damage));
    }
}

void setCheckWaitHandler(CheckWaitHandler handler) { check().waitHandler = std::move(handler); }

void setDamageHandler(std::function<void(const QString &)> handler) { check().damageHandler = std::move(handler); }

} // namespace history
