#include "history/HistoryUse.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

namespace history {

namespace {

// SHARED lock of the lock file: a read transaction that stays open.
int beginShared(sqlite3 *db)
{
    int rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return rc;
}

int begin(sqlite3 *db, HistoryUse::Mode mode)
{
    return mode == HistoryUse::Mode::Shared ? beginShared(db)
                                            : sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
}

QString waitText(HistoryUse::Mode mode, int waitMs)
{
    const QString seconds = QString::number((waitMs + 999) / 1000);
    return mode == HistoryUse::Mode::Shared
               ? QStringLiteral("利用履歴をバックアップから戻している最中です。終わるのを待っています(最長%1秒)…").arg(seconds)
               : QStringLiteral("利用履歴を PASSLOG の他の処理(ウィンドウ、取込、出力、バックアップのどれか)が使用中です。"
                                "終わるのを待っています(最長%1秒)…")
                     .arg(seconds);
}

QString busyText(HistoryUse::Mode mode)
{
    return mode == HistoryUse::Mode::Shared
               ? QStringLiteral("利用履歴をバックアップから戻している最中のため、利用履歴を使えません。戻し終わってから、"
                                "もう一度実行してください。")
               : QStringLiteral("利用履歴を PASSLOG の他の処理(ウィンドウ、取込、出力、バックアップ、戻す処理のどれか。"
                                "共有フォルダーの場合は他のPCも)が使用中のため、戻せませんでした。それを終えてから、"
                                "もう一度実行してください。");
}

} // namespace

QString historyUseLockPath(const QString &historyPath)
{
    // Beside the file itself: every name of it (a link) shares one lock.
    const QFileInfo info(historyPath);
    const QString real = info.isSymLink() ? info.canonicalFilePath() : QString();
    return (real.isEmpty() ? historyPath : real) + QStringLiteral("-lock");
}

std::unique_ptr<HistoryUse> HistoryUse::take(const QString &historyPath, Mode mode, int waitMs, QString *why,
                                             const std::function<void(const QString &)> &waiting)
{
    const QString path = historyUseLockPath(historyPath);
    const QByteArray name = QFile::encodeName(path);
    // Something else in its place (a FIFO would block the open for ever).
    const QFileInfo lockInfo(path);
    if (lockInfo.exists() && !lockInfo.isFile()) {
        if (why)
            *why = QStringLiteral("利用履歴の使用を確かめるファイル '%1' が通常のファイルではありません(フォルダーや特殊な"
                                  "ファイル)。取り除いてから、もう一度実行してください。")
                       .arg(QDir::toNativeSeparators(path));
        return nullptr;
    }
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        db = nullptr;
        if (mode == Mode::Shared) // a read lock needs only reading
            rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_close(db);
            if (mode == Mode::Shared && !QFileInfo::exists(path))
                return std::unique_ptr<HistoryUse>(new HistoryUse(nullptr, mode));
            if (why)
                *why = lockInfo.exists()
                           ? QStringLiteral("利用履歴の使用を確かめるファイル '%1' を読み書きできません。ファイルの権限を"
                                            "確認してください。")
                                 .arg(QDir::toNativeSeparators(path))
                           : QStringLiteral("利用履歴の使用を確かめるファイル '%1' を作成できません。フォルダーの書き込み"
                                            "権限を確認してください。")
                                 .arg(QDir::toNativeSeparators(path));
            return nullptr;
        }
    } else if (!lockInfo.exists()) {
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    // Nothing is ever written to it: no journal file beside it either.
    sqlite3_exec(db, "PRAGMA journal_mode=OFF", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db, 0);
    rc = begin(db, mode);
    if ((rc & 0xff) == SQLITE_BUSY && waitMs > 0) {
        if (waiting)
            waiting(waitText(mode, waitMs));
        sqlite3_busy_timeout(db, waitMs);
        rc = begin(db, mode);
    }
    if (rc != SQLITE_OK) {
        if (why)
            *why = (rc & 0xff) == SQLITE_BUSY
                       ? busyText(mode)
                       : QStringLiteral("利用履歴の使用を確かめるファイル '%1' を使えません。 (%2)")
                             .arg(QDir::toNativeSeparators(path), QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_close(db);
        return nullptr;
    }
    return std::unique_ptr<HistoryUse>(new HistoryUse(db, mode));
}

HistoryUse::~HistoryUse()
{
    if (!m_db)
        return;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
}

} // namespace history
