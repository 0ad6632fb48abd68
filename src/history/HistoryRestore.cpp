#include "history/HistoryRestore.h"

#include "history/HistoryBackup.h"
#include "history/HistoryColumns.h"
#include "history/HistoryFileCheck.h"
#include "history/HistorySchemaObjects.h"
#include "history/HistoryUse.h"
#include "history/SqliteMessage.h"
#include "app/CheckedSaveFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <filesystem>
#include <optional>
#include <sqlite3.h>
#include <unistd.h>

namespace history {

namespace {

const QString kDailyPrefix = QStringLiteral("ETC_DAT-");

QString nativePath(const QString &path) { return QDir::toNativeSeparators(path); }

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

QStringList columnsOf(sqlite3 *db, const char *table)
{
    QStringList columns;
    sqlite3_stmt *q = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?)", -1, &q, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, table, -1, SQLITE_STATIC);
        while (sqlite3_step(q) == SQLITE_ROW)
            columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
    }
    sqlite3_finalize(q);
    return columns;
}

// whyNotRestorable of file, its texts naming shown; going() is asked now
// and then during the check (false stops it).
QString whyNotRestorableAs(const QString &file, const QString &shown, const CopyProgress &going = {})
{
    const QFileInfo info(file);
    if (!info.isFile())
        return QStringLiteral("'%1' は見つからないか、通常のファイルではありません。").arg(nativePath(shown));
    if (!info.isReadable())
        return QStringLiteral("'%1' を読めません(読み取りの権限がありません)。").arg(nativePath(shown));
    sqlite3 *db = nullptr;
    const int rc =
        sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    QString why;
    const auto notHistory = [&] {
        return QStringLiteral("'%1' は PASSLOG の利用履歴ファイルではありません。").arg(nativePath(shown));
    };
    if (rc != SQLITE_OK) {
        why = notHistory();
    } else {
        if (going)
            sqlite3_progress_handler(
                db, 200000, [](void *g) { return (*static_cast<const CopyProgress *>(g))(0, 0) ? 0 : 1; },
                const_cast<CopyProgress *>(&going));
        sqlite3_stmt *q = nullptr;
        QStringList problems;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &q, nullptr) != SQLITE_OK) {
            why = sqlite3_errcode(db) == SQLITE_NOTADB ? notHistory()
                                                       : QStringLiteral("'%1' を読めません。 (%2)")
                                                             .arg(nativePath(shown), sqliteMessage(db, rc));
        } else {
            while (sqlite3_step(q) == SQLITE_ROW)
                problems << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
            if (sqlite3_errcode(db) == SQLITE_NOTADB)
                why = notHistory();
            else if (sqlite3_errcode(db) == SQLITE_INTERRUPT)
                why = copyStoppedText();
            else if (problems != QStringList{QStringLiteral("ok")})
                why = QStringLiteral("'%1' は壊れています。 (%2)")
                          .arg(nativePath(shown), problems.isEmpty() ? sqliteMessage(db, SQLITE_CORRUPT) : problems.first());
        }
        sqlite3_finalize(q);
        if (why.isEmpty()) {
            // Data, never code: a trigger or a view would run on the
            // program's own writes and reads.
            ForeignObjects code = foreignObjects(catalogueOf(db));
            code.indexes.clear();
            if (!code.empty())
                why = QStringLiteral("'%1' には PASSLOG が作らないもの(%2)があるため、戻しません。PASSLOG の利用履歴"
                                     "ファイルのバックアップを指定してください。")
                          .arg(nativePath(shown), code.describe());
        }
        if (why.isEmpty()) {
            const QStringList columns = columnsOf(db, "ETC_DATA");
            for (const QString &c : kHistoryColumnNames)
                if (!columns.contains(c, Qt::CaseInsensitive))
                    why = notHistory();
        }
        if (why.isEmpty()) {
            // (A file from before deleted rows were kept has no such table.)
            const QStringList deleted = columnsOf(db, "ETC_DELETED");
            if (!deleted.isEmpty())
                if (const QStringList missing = missingDeletedColumns(deleted); !missing.isEmpty())
                    why = deletedTableRefusal(shown, missing);
        }
    }
    sqlite3_close(db);
    return why;
}
} // namespace

QString whyNotRestorable(const QString &file) { return whyNotRestorableAs(file, file); }

namespace {

const QString kUnchanged = QStringLiteral(" 利用履歴は変更していません。");
const QString kIncomingSuffix = QStringLiteral(".restoring-");

// The history file as it is on disk: the file a symbolic link points to.
QString realHistoryFile(const QString &historyPath)
{
    const QFileInfo info(historyPath);
    if (!info.isSymLink())
        return historyPath;
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? info.symLinkTarget() : target;
}

// The history file held for the restore on a connection of its own: its log
// closed (the file goes back to a rollback journal, which SQLite allows only
// when no other connection has it open), then locked against every reader
// and writer, of this program or another, until the file in its place is
// there. A restore that does not get that far puts the log back.
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
        QString mode;
        sqlite3_stmt *q = nullptr;
        if (sqlite3_prepare_v2(m_db, "PRAGMA journal_mode=DELETE", -1, &q, nullptr) == SQLITE_OK &&
            sqlite3_step(q) == SQLITE_ROW)
            mode = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
        sqlite3_finalize(q);
        const int code = sqlite3_errcode(m_db) & 0xff;
        if (mode.compare(QLatin1String("delete"), Qt::CaseInsensitive) == 0) {
            m_switched = true;
            // (No reader either: the copy kept of it is a copy of its bytes.)
            if (sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
                m_busy = true;
            return;
        }
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED || mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
            m_busy = true;
        else
            m_damaged = true; // kept byte for byte, with its log
    }
    ~HeldHistory()
    {
        if (!m_db)
            return;
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        if (m_switched && !m_replaced)
            sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_close(m_db);
    }
    void replaced() { m_replaced = true; }
    bool busy() const { return m_busy; }
    bool damaged() const { return m_damaged; }

private:
    sqlite3 *m_db = nullptr;
    bool m_busy = false;
    bool m_damaged = false;
    bool m_switched = false;
    bool m_replaced = false;
};

const QString kInUseElsewhere =
    QStringLiteral("利用履歴ファイルを他のプログラムが使用中です。そのプログラムを終了してから、もう一度実行してください。");

// Copies the bytes of from into to, a new file, telling going() the bytes.
bool copyBytes(const QString &from, const QString &to, const CopyProgress &going)
{
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const qint64 total = in.size();
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 done = 0;;) {
        const qint64 n = in.read(block.data(), block.size());
        if (n < 0 || out.write(block.constData(), n) != n)
            return false;
        if (n == 0)
            break;
        done += n;
        if (going)
            going(done, total); // not stopped here: the restore is past its last check
    }
    return out.flush() && ::fsync(out.handle()) == 0;
}

// The former history file kept in the backup folder first, byte for byte
// with its logs (the file is held: what is on disk is the whole of it).
QString keepFormerHistory(const QString &path, const QString &before, const CopyProgress &going)
{
    if (!QDir().mkpath(QFileInfo(before).absolutePath()))
        return QStringLiteral("フォルダー '%1' を作成できません。").arg(nativePath(QFileInfo(before).absolutePath()));
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        if (!QFileInfo::exists(path + suffix))
            continue;
        const QString partial = before + suffix + QStringLiteral(".partial");
        QFile::remove(partial);
        if (!copyBytes(path + suffix, partial, going) || !QFile::rename(partial, before + suffix)) {
            QFile::remove(partial);
            for (const QString &s : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")})
                QFile::remove(before + s);
            return QStringLiteral("今の利用履歴ファイルを '%1' にコピーできませんでした。ディスクの空き容量と書き込み権限を"
                                  "確認してください。")
                .arg(nativePath(before + suffix));
        }
    }
    QFile::setPermissions(before, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return {};
}

// A name in the backup folder that no earlier restore took (two restores
// in one second keep both former files).
QString freeBeforeName(const QString &path, const QDateTime &now)
{
    const QString stem = QDir(backupFolder(path)).filePath(kDailyPrefix + QStringLiteral("before-restore-") +
                                                           now.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString name = stem + QStringLiteral(".sqlite");
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = stem + QStringLiteral("-%1.sqlite").arg(n);
    return name;
}

// Copies of a source that restores killed in the middle left beside the history.
void removeAbandonedIncoming(const QString &path)
{
    const QFileInfo info(path);
    const QDir folder = info.absoluteDir();
    for (const QString &name : folder.entryList({info.fileName() + kIncomingSuffix + QLatin1Char('*')}, QDir::Files))
        QFile::remove(folder.filePath(name));
}

} // namespace

QString restoreHistoryFile(const QString &file, const QString &historyPath, const QDateTime &now, QString *kept,
                           const std::function<void(const QString &)> &waiting, QStringList *dropped,
                           const CopyProgress &going)
{
    const QString path = realHistoryFile(historyPath);
    if (QFileInfo::exists(path) && app::sameFile(file, path))
        return QStringLiteral("'%1' は今の利用履歴ファイルそのものです。").arg(nativePath(file));
    if (const QString why = whyNotRestorableAs(file, file, going); !why.isEmpty())
        return why + kUnchanged;
    // Every other user of the history waits for the end of this, and this
    // for the users before it.
    QString why;
    const std::unique_ptr<HistoryUse> use =
        HistoryUse::take(historyPath, HistoryUse::Mode::Alone, kRestoreWaitsForUsersMs, &why, waiting);
    if (!use)
        return why + kUnchanged;
    removeAbandonedIncoming(path);
    // The file put in place is the copy checked here: a source changed or
    // swapped meanwhile changes nothing of it.
    const QString incoming = path + kIncomingSuffix + QString::number(QCoreApplication::applicationPid());
    const auto dropIncoming = qScopeGuard([&incoming] { QFile::remove(incoming); });
    if (const QString why = copyHistoryFile(file, incoming, going); !why.isEmpty())
        return why + kUnchanged;
    if (const QString why = whyNotRestorableAs(incoming, file, going); !why.isEmpty())
        return why + kUnchanged;
    if (const QString why = dropForeignIndexes(incoming, dropped); !why.isEmpty())
        return QStringLiteral("戻すファイルを整えられませんでした。 (%1)").arg(why) + kUnchanged;
    std::optional<HeldHistory> held;
    if (QFileInfo::exists(path)) {
        held.emplace(path);
        if (held->busy())
            return kInUseElsewhere + kUnchanged;
        const QString before = freeBeforeName(path, now);
        if (const QString why = keepFormerHistory(path, before, going); !why.isEmpty())
            return why + kUnchanged;
        if (kept)
            *kept = before;
    }
    // The logs beside the file are the former file's (empty, or kept with
    // it): never beside the file put in place.
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
        QFile::remove(path + suffix);
    QFile::remove(cleanEndMarkerPath(path)); // the next start checks the file in full
    std::error_code error;
    std::filesystem::rename(app::fileSystemPath(incoming), app::fileSystemPath(path), error);
    if (error)
        return QStringLiteral("利用履歴ファイルを置き換えられませんでした。 (%1)")
                   .arg(QString::fromLocal8Bit(error.message().c_str())) +
               kUnchanged;
    if (held)
        held->replaced();
    return {};
}

} // namespace history
