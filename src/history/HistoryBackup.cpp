#include "history/HistoryBackup.h"

#include "history/HistoryCheck.h"
#include "history/HistoryFileCheck.h"
#include "history/HistoryUse.h"
#include "history/SqliteMessage.h"
#include "app/CheckedSaveFile.h"

#include <QDir>
#include <QScopeGuard>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <sqlite3.h>
#include <thread>
#include <unistd.h>

namespace history {

namespace {

const QString kDailyPrefix = QStringLiteral("ETC_DAT-");

QString nativePath(const QString &path) { return QDir::toNativeSeparators(path); }


// Copies the file at path into target, a new file, through SQLite's online
// backup: page by page from one read transaction, so that the copy is one
// consistent state while others go on writing, and going(done, total) is
// told the pages after each step (false stops the copy). The copy is a file
// of its own, in rollback-journal mode.
QString backupInto(const QString &path, const QString &target, const CopyProgress &going)
{
    sqlite3 *from = nullptr, *to = nullptr;
    const auto closeBoth = qScopeGuard([&] {
        sqlite3_close(to);
        sqlite3_close(from);
    });
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &from, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        return sqliteMessage(from, rc);
    sqlite3_busy_timeout(from, 5000);
    // The read transaction held over every step keeps the copy's view still.
    rc = sqlite3_exec(from, "BEGIN; SELECT count(*) FROM sqlite_schema;", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return sqliteMessage(from, rc);
    rc = sqlite3_open_v2(QFile::encodeName(target).constData(), &to,
                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        return sqliteMessage(to, rc);
    sqlite3_exec(to, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
    sqlite3_backup *copy = sqlite3_backup_init(to, "main", from, "main");
    if (!copy)
        return sqliteMessage(to, SQLITE_ERROR);
    constexpr int kPagesPerStep = 2048;
    bool stopped = false;
    do {
        rc = sqlite3_backup_step(copy, kPagesPerStep);
        const qint64 total = sqlite3_backup_pagecount(copy);
        if (going && !going(total - sqlite3_backup_remaining(copy), total))
            stopped = true;
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            sqlite3_sleep(50); // (another connection writes the target: a moment)
    } while ((rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && !stopped);
    sqlite3_backup_finish(copy);
    if (stopped)
        return copyStoppedText();
    if (rc != SQLITE_DONE)
        return sqliteMessage(to, rc);
    sqlite3_exec(from, "COMMIT", nullptr, nullptr, nullptr);
    // The copy of a history in WAL mode would still say so in its header.
    rc = sqlite3_exec(to, "PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return sqliteMessage(to, rc);
    QFile written(target);
    if (!written.open(QIODevice::ReadWrite) || ::fsync(written.handle()) != 0)
        return QStringLiteral("書き込めません");
    return {};
}

// The history file and the files SQLite and the program keep beside it.
QStringList historyFileSet(const QString &path)
{
    return {path,
            path + QStringLiteral("-wal"),
            path + QStringLiteral("-shm"),
            path + QStringLiteral("-journal"),
            cleanEndMarkerPath(path),
            historyUseLockPath(path),
            historyUseLockPath(path) + QStringLiteral("-journal")};
}

std::mutex g_copyMutex; // guards the daily copy's failure

struct Daily {
    std::thread thread;
    std::atomic<bool> stop{false};
    QString failure; // why the last daily copy was not made (under g_copyMutex)
    ~Daily() // a run that ends without its end sequence
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
};
Daily &daily()
{
    static Daily d;
    return d;
}

} // namespace

QString copyStoppedText() { return QStringLiteral("中止しました。"); }

QString copyTargetRefusal(const QString &path, const QString &target)
{
    if (!QFileInfo(path).isFile())
        return QStringLiteral("利用履歴ファイル '%1' がありません。").arg(nativePath(path));
    const QFileInfo to(target);
    if (to.exists() && !to.isFile())
        return QStringLiteral("'%1' は通常のファイルではありません。").arg(nativePath(target));
    for (const QString &own : historyFileSet(path))
        if (app::sameFile(own, target))
            return QStringLiteral("'%1' は利用履歴ファイルそのものです。別のファイルを指定してください。").arg(nativePath(target));
    // Nor onto any other file of the program (the settings, the masters).
    if (const QString refusal = app::documentTargetRefusal(to.absoluteFilePath()); !refusal.isEmpty())
        return refusal.section(QStringLiteral("\r\n"), 0, 0);
    return {};
}

QString copyHistoryFile(const QString &path, const QString &target, const CopyProgress &going)
{
    if (const QString refusal = copyTargetRefusal(path, target); !refusal.isEmpty())
        return refusal;
    const QFileInfo to(target);
    if (!QDir().mkpath(to.absolutePath()))
        return QStringLiteral("フォルダー '%1' を作成できません。").arg(nativePath(to.absolutePath()));
    const QString partial = to.absoluteFilePath() + QStringLiteral(".partial");
    QFile::remove(partial);
    if (const QString why = backupInto(path, partial, going); !why.isEmpty()) {
        QFile::remove(partial);
        return QStringLiteral("利用履歴ファイルをコピーできませんでした。ディスクの空き容量と書き込み権限を確認してください。 (") +
               why + QStringLiteral(") ") + nativePath(target);
    }
    QFile::setPermissions(partial, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // A rename in one folder replaces the old copy at once.
    std::error_code error;
    std::filesystem::rename(app::fileSystemPath(partial), app::fileSystemPath(to.absoluteFilePath()), error);
    if (error) {
        QFile::remove(partial);
        return QStringLiteral("コピーを '%1' に置けませんでした。 (%2)")
            .arg(nativePath(target), QString::fromLocal8Bit(error.message().c_str()));
    }
    return {};
}

QString backupFolder(const QString &historyPath)
{
    return QFileInfo(historyPath).absoluteDir().filePath(QStringLiteral("backup"));
}

QStringList backupFiles(const QString &historyPath)
{
    const QDir folder(backupFolder(historyPath));
    QStringList out;
    for (const QString &name : folder.entryList({kDailyPrefix + QStringLiteral("*.sqlite")}, QDir::Files, QDir::Name))
        out << folder.filePath(name);
    return out;
}

void startDailyBackup(const QString &historyPath, const QDate &day, int keep)
{
    stopDailyBackup();
    const QString target = QDir(backupFolder(historyPath))
                               .filePath(kDailyPrefix + day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".sqlite"));
    if (QFileInfo::exists(target) || !QFileInfo(historyPath).isFile())
        return;
    Daily &d = daily();
    d.stop = false;
    {
        const std::lock_guard lock(g_copyMutex);
        d.failure.clear();
    }
    d.thread = std::thread([&d, historyPath, target, keep] {
        // After the full check: a damaged file is never copied over a good copy.
        while (!d.stop && checkRunning())
            QThread::msleep(50);
        if (d.stop || !checkedSound())
            return;
        if (const QString why = copyHistoryFile(historyPath, target, [&d](qint64, qint64) { return !d.stop; });
            !why.isEmpty()) {
            if (!d.stop) {
                const std::lock_guard lock(g_copyMutex);
                d.failure = why;
            }
            return;
        }
        QStringList dailies;
        for (const QString &f : backupFiles(historyPath))
            if (QFileInfo(f).fileName().size() == kDailyPrefix.size() + 17) // ETC_DAT-YYYY-MM-DD.sqlite
                dailies << f;
        while (dailies.size() > keep)
            QFile::remove(dailies.takeFirst());
    });
}

QString dailyBackupFailure()
{
    const std::lock_guard lock(g_copyMutex);
    return daily().failure;
}

void stopDailyBackup()
{
    Daily &d = daily();
    d.stop = true;
    if (d.thread.joinable())
        d.thread.join();
}

} // namespace history
