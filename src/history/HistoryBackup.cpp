#include "history/HistoryBackup.h"

#include "history/HistoryCheck.h"
#include "history/HistoryColumns.h"
#include "history/HistorySchemaObjects.h"
#include "history/HistoryUse.h"
#include "history/HistoryFileCheck.h"
#include "app/CheckedSaveFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
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

// True when a and b are one file: the same device and inode when both
// exist, else the same name in the same folder (a log not made yet is still
// the history's own).
bool sameFile(const QString &a, const QString &b)
{
    std::error_code error;
    if (QFileInfo::exists(a) && QFileInfo::exists(b))
        return std::filesystem::equivalent(app::fileSystemPath(a), app::fileSystemPath(b), error) && !error;
    const QFileInfo ia(a), ib(b);
    return ia.fileName() == ib.fileName() &&
           std::filesystem::equivalent(app::fileSystemPath(ia.absolutePath()), app::fileSystemPath(ib.absolutePath()), error) &&
           !error;
}

// The history file and the files SQLite and the program keep beside it.
QStringList historyFileSet(const QString &path)
{
    return {path,
            path + QStringLiteral("-wal"),
            path + QStringLiteral("-shm"),
            path + QStringLiteral("-journal"),
            cleanEndMarkerPath(path),
            historyUseLockPath(path)};
}

// The catalogue of the SQLite file open on db.
QList<SchemaObject> catalogueOf(sqlite3 *db)
{
    QList<SchemaObject> out;
    sqlite3_stmt *q = nullptr;
    if (sqlite3_prepare_v2(db, kCatalogueStatement, -1, &q, nullptr) == SQLITE_OK)
        while (sqlite3_step(q) == SQLITE_ROW)
            out.append({QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0))),
                        QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 1)))});
    sqlite3_finalize(q);
    return out;
}

// Drops the indexes of another program from the file at path (a copy of
// ours, not yet in place).
QString dropForeignIndexes(const QString &path, QStringList *dropped)
{
    sqlite3 *db = nullptr;
    QString why;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) ==
        SQLITE_OK) {
        ForeignObjects foreign = foreignObjects(catalogueOf(db));
        foreign.code.clear();
        for (const QString &drop : foreign.dropStatements())
            if (sqlite3_exec(db, drop.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
                why = sqliteMessage(db, SQLITE_ERROR);
        if (why.isEmpty() && dropped && !foreign.empty())
            *dropped << foreign.describe();
    } else {
        why = sqliteMessage(db, SQLITE_CANTOPEN);
    }
    sqlite3_close(db);
    return why;
}

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

QString copyHistoryFile(const QString &path, const QString &target)
{
    if (!QFileInfo(path).isFile())
        return QStringLiteral("利用履歴ファイル '%1' がありません。").arg(nativePath(path));
    const QFileInfo to(target);
    if (to.exists() && !to.isFile())
        return QStringLiteral("'%1' は通常のファイルではありません。").arg(nativePath(target));
    for (const QString &own : historyFileSet(path))
        if (sameFile(own, target))
            return QStringLiteral("'%1' は利用履歴ファイルそのものです。別のファイルを指定してください。").arg(nativePath(target));
    // Nor onto any other file of the program (the settings, the masters).
    if (const QString refusal = app::documentTargetRefusal(to.absoluteFilePath()); !refusal.isEmpty())
        return refusal.section(QStringLiteral("\r\n"), 0, 0);
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
    std::filesystem::rename(app::fileSystemPath(partial), app::fileSystemPath(to.absoluteFilePath()), error);
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
        sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    QString why;
    const auto notHistory = [&] {
        return QStringLiteral("'%1' は PASSLOG の利用履歴ファイルではありません。").arg(nativePath(file));
    };
    if (rc != SQLITE_OK) {
        why = notHistory();
    } else {
        sqlite3_stmt *q = nullptr;
        QStringList problems;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &q, nullptr) != SQLITE_OK) {
            why = sqlite3_errcode(db) == SQLITE_NOTADB ? notHistory()
                                                       : QStringLiteral("'%1' を読めません。 (%2)")
                                                             .arg(nativePath(file), sqliteMessage(db, rc));
        } else {
            while (sqlite3_step(q) == SQLITE_ROW)
                problems << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
            if (sqlite3_errcode(db) == SQLITE_NOTADB)
                why = notHistory();
            else if (problems != QStringList{QStringLiteral("ok")})
                why = QStringLiteral("'%1' は壊れています。 (%2)")
                          .arg(nativePath(file), problems.isEmpty() ? sqliteMessage(db, SQLITE_CORRUPT) : problems.first());
        }
        sqlite3_finalize(q);
        if (why.isEmpty()) {
            // Data, never code: a trigger or a view would run on the
            // program's own writes and reads.
            const ForeignObjects foreign = foreignObjects(catalogueOf(db));
            if (!foreign.code.isEmpty()) {
                ForeignObjects code = foreign;
                code.indexes.clear();
                why = QStringLiteral("'%1' には PASSLOG が作らないもの(%2)があるため、戻しません。PASSLOG の利用履歴"
                                     "ファイルのバックアップを指定してください。")
                          .arg(nativePath(file), code.describe());
            }
        }
        if (why.isEmpty()) {
            QStringList columns;
            if (sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info('ETC_DATA')", -1, &q, nullptr) == SQLITE_OK)
                while (sqlite3_step(q) == SQLITE_ROW)
                    columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
            sqlite3_finalize(q);
            for (const QString &c : kHistoryColumnNames)
                if (!columns.contains(c, Qt::CaseInsensitive))
                    why = notHistory();
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
        if (const QString why = copyHistoryFile(historyPath, target); !why.isEmpty()) {
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
    {
        const std::lock_guard lock(g_copyMutex);
        if (g_copying)
            sqlite3_interrupt(g_copying);
    }
    if (d.thread.joinable())
        d.thread.join();
}

namespace {

const QString kUnchanged = QStringLiteral(" 利用履歴は変更していません。");

// The history file as it is on disk: the file a symbolic link points to.
QString realHistoryFile(const QString &historyPath)
{
    const QFileInfo info(historyPath);
    if (!info.isSymLink())
        return historyPath;
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? info.symLinkTarget() : target;
}

// Closes the history file's log on a connection of its own (the file goes
// back to a rollback journal, which SQLite allows only when no other
// connection has it open) and then holds it locked, so that no other
// program opens it until the file in its place is there.
class HeldHistory {
public:
    explicit HeldHistory(const QString &path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            m_damaged = true;
            return;
        }
        sqlite3_busy_timeout(m_db, 2000);
        sqlite3_stmt *q = nullptr;
        QString mode;
        int rc = sqlite3_prepare_v2(m_db, "PRAGMA journal_mode=DELETE", -1, &q, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(q);
            if (rc == SQLITE_ROW)
                mode = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
        }
        sqlite3_finalize(q);
        const int code = sqlite3_errcode(m_db) & 0xff;
        if (mode.compare(QLatin1String("delete"), Qt::CaseInsensitive) == 0)
            return;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED || mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
            m_busy = true;
        else
            m_damaged = true; // kept byte for byte, with its log
    }
    ~HeldHistory()
    {
        if (m_db) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(m_db);
        }
    }
    // No other program may read it while it is replaced.
    bool lock() { return m_db && sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK; }
    bool busy() const { return m_busy; }
    bool damaged() const { return m_damaged; }

private:
    sqlite3 *m_db = nullptr;
    bool m_busy = false;
    bool m_damaged = false;
};

const QString kInUseElsewhere =
    QStringLiteral("利用履歴ファイルを他のプログラムが使用中です。そのプログラムを終了してから、もう一度実行してください。");

// The former history file kept in the backup folder first: a sound file as
// a consistent copy, a damaged one byte for byte with its logs.
QString keepFormerHistory(const QString &path, const QString &before, bool damaged)
{
    if (!damaged) {
        const QString why = copyHistoryFile(path, before);
        if (why.isEmpty())
            return {};
        QFile::remove(before);
    }
    if (!QDir().mkpath(QFileInfo(before).absolutePath()))
        return QStringLiteral("フォルダー '%1' を作成できません。").arg(nativePath(QFileInfo(before).absolutePath()));
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        if (!QFileInfo::exists(path + suffix))
            continue;
        QFile::remove(before + suffix);
        if (!QFile::copy(path + suffix, before + suffix))
            return QStringLiteral("今の利用履歴ファイルを '%1' にコピーできませんでした。ディスクの空き容量と書き込み権限を"
                                  "確認してください。")
                .arg(nativePath(before + suffix));
    }
    return {};
}

} // namespace

QString restoreHistoryFile(const QString &file, const QString &historyPath, const QDateTime &now, QString *kept,
                           const std::function<void(const QString &)> &waiting, QStringList *dropped)
{
    const QString path = realHistoryFile(historyPath);
    if (QFileInfo::exists(path) && sameFile(file, path))
        return QStringLiteral("'%1' は今の利用履歴ファイルそのものです。").arg(nativePath(file));
    if (const QString why = whyNotRestorable(file); !why.isEmpty())
        return why + kUnchanged;
    // Every other user of the history waits for the end of this, and this
    // for the users before it.
    QString why;
    const std::unique_ptr<HistoryUse> use =
        HistoryUse::take(historyPath, HistoryUse::Mode::Alone, kRestoreWaitsForUsersMs, &why, waiting);
    if (!use)
        return why + kUnchanged;
    std::optional<HeldHistory> held;
    if (QFileInfo::exists(path)) {
        held.emplace(path);
        if (held->busy())
            return kInUseElsewhere + kUnchanged;
        const QString before = QDir(backupFolder(path))
                                   .filePath(kDailyPrefix + QStringLiteral("before-restore-") +
                                             now.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".sqlite"));
        if (const QString why = keepFormerHistory(path, before, held->damaged()); !why.isEmpty())
            return why + kUnchanged;
        if (kept)
            *kept = before;
    }
    const QString incoming = path + QStringLiteral(".restoring");
    QFile::remove(incoming);
    if (const QString why = copyHistoryFile(file, incoming); !why.isEmpty())
        return why + kUnchanged;
    if (const QString why = dropForeignIndexes(incoming, dropped); !why.isEmpty()) {
        QFile::remove(incoming);
        return QStringLiteral("戻すファイルを整えられませんでした。 (%1)").arg(why) + kUnchanged;
    }
    if (held && !held->damaged() && !held->lock()) {
        QFile::remove(incoming);
        return kInUseElsewhere + kUnchanged;
    }
    // The logs beside the file are the former file's (empty or kept with
    // it): never beside the file put in place.
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
        QFile::remove(path + suffix);
    QFile::remove(cleanEndMarkerPath(path)); // the next start checks the file in full
    std::error_code error;
    std::filesystem::rename(app::fileSystemPath(incoming), app::fileSystemPath(path), error);
    if (error) {
        QFile::remove(incoming);
        return QStringLiteral("利用履歴ファイルを置き換えられませんでした。 (%1)")
                   .arg(QString::fromLocal8Bit(error.message().c_str())) +
               kUnchanged;
    }
    return {};
}

} // namespace history
