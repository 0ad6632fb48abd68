#include "history/HistoryBackup.h"

#include "history/HistoryCheck.h"
#include "history/HistoryColumns.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <sqlite3.h>
#include <thread>

namespace history {

namespace {

const QString kDailyPrefix = QStringLiteral("ETC_DAT-");

QString nativePath(const QString &path) { return QDir::toNativeSeparators(path); }

QString sqliteMessage(sqlite3 *db, int rc)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
}

// The connection of a running copy, so that it can be stopped.
std::mutex g_copyMutex;
sqlite3 *g_copying = nullptr;

// VACUUM INTO target from a read-only connection to path.
QString vacuumInto(const QString &path, const QString &target)
{
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    QString why;
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        {
            const std::lock_guard lock(g_copyMutex);
            g_copying = db;
        }
        sqlite3_stmt *q = nullptr;
        rc = sqlite3_prepare_v2(db, "VACUUM INTO ?", -1, &q, nullptr);
        if (rc == SQLITE_OK) {
            const QByteArray name = target.toUtf8();
            sqlite3_bind_text(q, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            rc = sqlite3_step(q);
            if (rc == SQLITE_DONE)
                rc = SQLITE_OK;
        }
        if (rc != SQLITE_OK)
            why = sqliteMessage(db, rc);
        sqlite3_finalize(q);
        const std::lock_guard lock(g_copyMutex);
        g_copying = nullptr;
    } else {
        why = sqliteMessage(db, rc);
    }
    sqlite3_close(db);
    return why;
}

bool sameFile(const QString &a, const QString &b)
{
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::path(a.toStdWString()), std::filesystem::path(b.toStdWString()),
                                       error);
}

struct Daily {
    std::thread thread;
    std::atomic<bool> stop{false};
    // A run that ends without the end sequence (a test, a refused start)
    // still waits for the copy: a thread left joinable ends the process.
    ~Daily()
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

QString copyHistoryFile(const QString &path, const QString &target)
{
    if (!QFileInfo(path).isFile())
        return QStringLiteral("利用履歴ファイル '%1' がありません。").arg(nativePath(path));
    const QFileInfo to(target);
    if (to.exists() && !to.isFile())
        return QStringLiteral("'%1' は通常のファイルではありません。").arg(nativePath(target));
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
        if (to.exists() && sameFile(path + suffix, target))
            return QStringLiteral("'%1' は利用履歴ファイルそのものです。別のファイルを指定してください。").arg(nativePath(target));
    if (!QDir().mkpath(to.absolutePath()))
        return QStringLiteral("フォルダー '%1' を作成できません。").arg(nativePath(to.absolutePath()));
    const QString partial = to.absoluteFilePath() + QStringLiteral(".partial");
    QFile::remove(partial);
    if (const QString why = vacuumInto(path, partial); !why.isEmpty()) {
        QFile::remove(partial);
        return QStringLiteral("利用履歴ファイルをコピーできませんでした。ディスクの空き容量と書き込み権限を確認してください。 (") +
               why + QStringLiteral(") ") + nativePath(target);
    }
    QFile::setPermissions(partial, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // A rename in one folder replaces the old copy at once.
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(partial.toStdWString()),
                            std::filesystem::path(to.absoluteFilePath().toStdWString()), error);
    if (error) {
        QFile::remove(partial);
        return QStringLiteral("コピーを '%1' に置けませんでした。 (%2)")
            .arg(nativePath(target), QString::fromLocal8Bit(error.message().c_str()));
    }
    return {};
}

QString whyNotRestorable(const QString &file)
{
    const QFileInfo info(file);
    if (!info.isFile())
        return QStringLiteral("'%1' は見つからないか、通常のファイルではありません。").arg(nativePath(file));
    sqlite3 *db = nullptr;
    const int rc =
        sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    QString why;
    const auto foreign = [&] {
        return QStringLiteral("'%1' は PASSLOG の利用履歴ファイルではありません。").arg(nativePath(file));
    };
    if (rc != SQLITE_OK) {
        why = foreign();
    } else {
        sqlite3_stmt *q = nullptr;
        QStringList problems;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &q, nullptr) != SQLITE_OK) {
            why = sqlite3_errcode(db) == SQLITE_NOTADB ? foreign()
                                                      : QStringLiteral("'%1' を読めません。 (%2)")
                                                            .arg(nativePath(file), sqliteMessage(db, rc));
        } else {
            while (sqlite3_step(q) == SQLITE_ROW)
                problems << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
            if (sqlite3_errcode(db) == SQLITE_NOTADB)
                why = foreign();
            else if (problems != QStringList{QStringLiteral("ok")})
                why = QStringLiteral("'%1' は壊れています。 (%2)")
                          .arg(nativePath(file), problems.isEmpty() ? sqliteMessage(db, SQLITE_CORRUPT) : problems.first());
        }
        sqlite3_finalize(q);
        if (why.isEmpty()) {
            QStringList columns;
            if (sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info('ETC_DATA')", -1, &q, nullptr) == SQLITE_OK)
                while (sqlite3_step(q) == SQLITE_ROW)
                    columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
            sqlite3_finalize(q);
            for (const QString &c : kHistoryColumnNames)
                if (!columns.contains(c, Qt::CaseInsensitive))
                    why = foreign();
        }
    }
    sqlite3_close(db);
    return why;
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
    d.thread = std::thread([&d, historyPath, target, keep] {
        // After the full check: a damaged file is never copied over a good copy.
        while (!d.stop && checkRunning())
            QThread::msleep(50);
        if (d.stop || !checkedSound() || !copyHistoryFile(historyPath, target).isEmpty())
            return;
        QStringList dailies;
        for (const QString &f : backupFiles(historyPath))
            if (QFileInfo(f).fileName().size() == kDailyPrefix.size() + 17) // ETC_DAT-YYYY-MM-DD.sqlite
                dailies << f;
        while (dailies.size() > keep)
            QFile::remove(dailies.takeFirst());
    });
}

void stopDailyBackup()
{
    Daily &d = daily();
    d.stop = true;
    {
        const std::lock_guard lock(g_copyMutex);
        if (g_copying)
            sqlite3_interrupt(g_copying);
    }
    if (d.thread.joinable())
        d.thread.join();
}

QString restoreHistoryFile(const QString &file, const QString &historyPath, const QDateTime &now, QString *kept)
{
    if (QFileInfo::exists(historyPath) && sameFile(file, historyPath))
        return QStringLiteral("'%1' は今の利用履歴ファイルそのものです。").arg(nativePath(file));
    if (const QString why = whyNotRestorable(file); !why.isEmpty())
        return why + QStringLiteral(" 利用履歴は変更していません。");
    // Nobody may have the history open: its last connection, closed here,
    // folds the write-ahead log into the file and removes it.
    if (QFileInfo::exists(historyPath)) {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(historyPath.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) == SQLITE_OK)
            sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        if (QFileInfo::exists(historyPath + QStringLiteral("-wal")) ||
            QFileInfo::exists(historyPath + QStringLiteral("-journal")))
            return QStringLiteral("利用履歴ファイルを他のプログラムが使用中です。PASSLOG の取込や出力が終わってから、もう一度実行してください。"
                                  "利用履歴は変更していません。");
        const QString before = QDir(backupFolder(historyPath))
                                   .filePath(kDailyPrefix + QStringLiteral("before-restore-") +
                                             now.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".sqlite"));
        QString why = copyHistoryFile(historyPath, before);
        if (!why.isEmpty()) { // a damaged file is kept byte for byte
            QFile::remove(before);
            if (!QFile::copy(historyPath, before))
                return why + QStringLiteral(" 利用履歴は変更していません。");
        }
        if (kept)
            *kept = before;
    }
    const QString incoming = historyPath + QStringLiteral(".restoring");
    QFile::remove(incoming);
    if (const QString why = copyHistoryFile(file, incoming); !why.isEmpty())
        return why + QStringLiteral(" 利用履歴は変更していません。");
    QFile::remove(historyPath + QStringLiteral("-shm"));
    QFile::remove(historyPath + QStringLiteral("-closed")); // the next start checks the file in full
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(incoming.toStdWString()),
                            std::filesystem::path(historyPath.toStdWString()), error);
    if (error) {
        QFile::remove(incoming);
        return QStringLiteral("利用履歴ファイルを置き換えられませんでした。 (%1) 利用履歴は変更していません。")
            .arg(QString::fromLocal8Bit(error.message().c_str()));
    }
    return {};
}

} // namespace history
