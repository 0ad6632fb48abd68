#include "history/Database.h"
#include "history/ServerConnection.h"

#include "app/CheckedSaveFile.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "app/Failure.h"
#include "history/HistoryStore.h"
#include "history/HistoryCheck.h"
#include "history/HistoryFileCheck.h"
#include "history/HistorySchemaObjects.h"
#include "history/HistoryUse.h"
#include "history/Registration.h"
#include "history/ShownRows.h"
#include "history/Transaction.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include <memory>
#include <utility>

namespace {

// The database files as the program keeps them on disk, with the logs
// SQLite makes beside them and the clean-end marker: no document is ever
// written onto one of them.
QStringList databaseFiles()
{
    QStringList files;
    for (const QString &file : {history::databasePath(kDatFile), history::databasePath(kMstFile)})
        files << file << file + QStringLiteral("-wal") << file + QStringLiteral("-shm")
              << file + QStringLiteral("-journal") << history::cleanEndMarkerPath(file)
              << history::historyUseLockPath(file) << history::historyUseLockPath(file) + QStringLiteral("-journal");
    files << QCoreApplication::applicationFilePath(); // the program itself
    return files;
}

std::function<void(const QString &)> g_useWaitNotice = [](const QString &text) {
    QTextStream(stderr) << text << Qt::endl;
};

// What the program does not make in a history file goes before the program
// writes: triggers, views and other programs' indexes are dropped and named;
// a view or the like in the place of one of the program's tables is refused.
// refuseOnly: only the refusal, before the schema script runs (it would
// trip over a view in a table's place); the drops come once the file may be
// written.
void removeForeignObjects(QSqlDatabase db, const QString &path, bool refuseOnly)
{
    QList<history::SchemaObject> catalogue;
    {
        QSqlQuery q(db);
        if (!q.exec(QString::fromLatin1(history::kCatalogueStatement)))
            history::throwSqlError(q.lastError(), path);
        while (q.next())
            catalogue.append({q.value(0).toString(), q.value(1).toString()});
    }
    const history::ForeignObjects foreign = history::foreignObjects(catalogue);
    if (foreign.empty())
        return;
    if (!foreign.inPlaceOfTables.isEmpty())
        throw history::SchemaRefused(QStringLiteral("利用履歴ファイル '%1' の %2 がテーブルではありません(%3)。PASSLOG の利用履歴ファイルではないため、"
                               "開けません。何も変更していません。バックアップから戻してください(passlog restore)。")
                    .arg(QDir::toNativeSeparators(path), foreign.inPlaceOfTables.join(QStringLiteral("、")), foreign.describe()));
    if (refuseOnly)
        return;
    history::requireSoundHistory();
    history::Transaction transaction(db, false);
    QSqlQuery q(db);
    for (const QString &drop : foreign.dropStatements())
        history::runText(q, drop);
    transaction.commit();
    history::store().schemaNotices << QStringLiteral("利用履歴ファイルにあった、PASSLOG が作らないもの(%1)を取り除きました。利用履歴の行はそのままです。")
                           .arg(foreign.describe());
}

// Rows written by older versions and other tools may carry a DATE_TIME
// that is not their passage's date and time; every lookup by passage goes
// through that column, so it is mended before anything else reads it.
// Looked for first: an update takes the write lock even when it changes nothing.
void mendPassageTimes(QSqlDatabase db)
{
    const QString wrong =
        QStringLiteral(" WHERE PASS_DATE IS NOT NULL AND PASS_TIME IS NOT NULL AND DATE_TIME IS NOT PASS_DATE||'-'||PASS_TIME");
    QSqlQuery q(db);
    history::runText(q, QStringLiteral("SELECT EXISTS (SELECT 1 FROM ETC_DATA") + wrong + QLatin1Char(')'));
    const bool found = q.next() && q.value(0).toBool();
    q.finish();
    if (!found)
        return;
    history::requireSoundHistory();
    history::Transaction transaction(db, false);
    history::runText(q, QStringLiteral("UPDATE ETC_DATA SET DATE_TIME=PASS_DATE||'-'||PASS_TIME") + wrong);
    transaction.commit();
}

// True when the file holds the history table: a file that does not is made
// by a writable open, never by a read.
bool holdsHistoryTable(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    const QString name = QStringLiteral("passlog_history_table_probe");
    bool holds = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open()) {
            QSqlQuery q(db);
            holds = q.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name='ETC_DATA'")) &&
                    q.next();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return holds;
}

// The history file just opened on db: the schema brought up to date, the
// check started or marked done, the write-ahead log, the shared history's
// server named (a read changes nothing of the file).
void setUpOpenedHistory(QSqlDatabase db, const QString &path, bool forReading, bool checkedInFull, bool vouched)
{
    history::store().openedForReading = forReading;
    if (!forReading) {
        // (Statements that find everything in place write nothing and need
        // no lock: a start beside a long import goes on.)
        removeForeignObjects(db, path, true);
        history::runScript(db, history::historySchemaSql());
        if (checkedInFull)
            history::markCheckedSound();
        else
            history::startBackgroundCheck(path);
        try {
            removeForeignObjects(db, path, false);
            history::ensureRowIdentity(db);
            if (!vouched) // changed since this program closed it
                mendPassageTimes(db);
        } catch (const history::SchemaRefused &) {
            throw;
        } catch (const ExpectedFailure &damaged) { // (found by the check it waited for)
            throw Failure(damaged.number(), damaged.description());
        }
        // A write-ahead log: a commit is one append and one sync of the log,
        // so that changes stored row by row (the printed marks of the
        // desktop printer) cost milliseconds, not a printer line each, and
        // stay as durable as before. A file system without it keeps the
        // rollback journal.
        QSqlQuery wal(db);
        wal.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        wal.finish();
    }
    // The shared history may be away: the program starts all the same
    // (card reads and staging are local). The first operation that needs it
    // connects (the window's start tries in the background), and each
    // operation after a failure tries to reach it again.
    history::useServerOf(history::serverSetting());
}

} // namespace


void history::openDatabase(const QString &fileName, history::HistoryAccess access)
{
    app::tagged(app::Procedure::OpenDatabase, [&] {
        app::setProgramFilesSource(databaseFiles);
        const bool history = fileName == kDatFile;
        if (!history && fileName != kMstFile)
            return;
        const DbConnection which = history ? DbConnection::History : DbConnection::Master;
        if (history::isOpen(which))
            return;
        const QString path = history::databasePath(fileName);
        // Used by this process until it closes it: a restore waits for that,
        // and this waits for a restore that runs.
        if (history && !history::store().fileUse) {
            QString why;
            history::store().fileUse = history::HistoryUse::take(path, history::HistoryUse::Mode::Shared, history::kWaitForRestoreMs,
                                                     &why, g_useWaitNotice);
            if (!history::store().fileUse)
                throw ExpectedFailure(-1, why);
        }
        // A read takes no lock and changes nothing: not the schema, not the
        // rows' identities, not the clean-end stamp. Only a folder without a
        // history yet gets one made, as by any other start.
        const bool forReading = history && access == history::HistoryAccess::ReadOnly && holdsHistoryTable(path);
        // The masters ship with the program: a missing file is a failure, and
        // opening it must not leave an empty database behind.
        if (!history && !QFileInfo(path).isFile())
            throw Failure(-2147467259, QStringLiteral("ファイル '") + path + QStringLiteral("' が見つかりません。"));
        // A new history file is readable by its owner only: it is a record of
        // the user's trips. An existing file keeps its permissions.
        if (history && !QFileInfo::exists(path)) {
            QFile created(path);
            if (created.open(QIODevice::WriteOnly))
                created.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        // A damaged file is reported before anything is written to it, so
        // that it stays exactly as it was for a repair.
        bool checkedInFull = false;
        bool vouched = false;
        if (history) {
            try {
                checkedInFull = history::checkHistoryFile(path, forReading, &vouched);
            } catch (...) {
                history::store().fileUse.reset();
                throw;
            }
        }
        const QString name = history::connectionName(which);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            db.setConnectOptions(history && !forReading ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000")
                                                        : QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
            try {
                if (!db.open())
                    history::throwSqlError(db.lastError(), path);
                // Reading the catalogue proves that the file is a database at all.
                QSqlQuery probe(db);
                if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                    history::throwSqlError(probe.lastError(), path);
                probe.finish();
                if (history)
                    setUpOpenedHistory(db, path, forReading, checkedInFull, vouched);
            } catch (...) {
                db.close();
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(name);
                if (history)
                    history::store().fileUse.reset();
                throw;
            }
        }
    });
}

QStringList history::takeSchemaNotices() { return std::exchange(history::store().schemaNotices, {}); }

void history::setHistoryUseWaitNotice(std::function<void(const QString &)> notice) { g_useWaitNotice = std::move(notice); }

QStringList history::programFiles() { return databaseFiles(); }

void history::closeDatabase(const QString &fileName)
{
    app::tagged(app::Procedure::CloseDatabase, [&] {
        if (fileName != kDatFile && fileName != kMstFile)
            return;
        const bool vouched = fileName == kDatFile && !history::store().openedForReading && history::checkedSound();
        if (fileName == kDatFile) {
            history::stopBackgroundCheck();
            history::forgetServer();
            history::rememberShown({});
        }
        const QString name = history::connectionName(fileName == kDatFile ? DbConnection::History : DbConnection::Master);
        // The use of the history ends once its connection is closed.
        const auto endUse = qScopeGuard([&] {
            if (fileName == kDatFile)
                history::store().fileUse.reset();
        });
        if (!QSqlDatabase::contains(name))
            return;
        QString path;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            path = db.databaseName();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        // Only a file that passed the full check in this run is vouched for;
        // otherwise the next start checks it in full.
        if (vouched)
            history::stampCleanEndOfRun(path);
    });
}

