#include "history/HistoryFileCheck.h"
#include "history/HistoryStore.h"

#include "app/Failure.h"
#include "app/Seams.h"
#include "history/HistoryCheck.h"
#include "history/Database.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <optional>
#include <sys/stat.h>

namespace history {

namespace {

// Reads every page of the file (without writing) and fails when its structure
// is damaged, naming the file.
void checkIntact(QSqlDatabase db, const QString &path)
{
    // Reading the catalogue proves that the file is a database at all.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
        history::throwSqlError(probe.lastError(), path);
    probe.finish();
    QSqlQuery check(db);
    check.setForwardOnly(true);
    // The first problem found is enough to report (the full list of a badly
    // damaged file runs to a hundred lines).
    if (!check.exec(QStringLiteral("PRAGMA quick_check(1)")))
        history::throwSqlError(check.lastError(), path);
    QStringList problems;
    while (check.next())
        problems << check.value(0).toString();
    if (check.lastError().isValid())
        history::throwSqlError(check.lastError(), path);
    check.finish();
    if (problems == QStringList{QStringLiteral("ok")})
        return;
    throw Failure(11, QStringLiteral("ファイル '") + path + QStringLiteral("' が壊れています。 (") +
                          problems.value(0) + QLatin1Char(')'));
}

// Opens the file on a connection of its own (read-only unless told
// otherwise), checks it and closes it again.
void checkOnOwnConnection(const QString &path, bool readOnly)
{
    const QString name = QStringLiteral("passlog_history_check");
    std::optional<Failure> failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                      : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        try {
            if (!db.open())
                history::throwSqlError(db.lastError(), path);
            checkIntact(db, path);
        } catch (const Failure &f) {
            failure = f;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (failure)
        throw *failure;
}

QByteArray cleanEndStamp(const QString &path)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray firstPage = file.read(4096);
    // The modification time to the file system's own precision (nanoseconds
    // on Linux), so that a write right after the close still shows.
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    const auto nanoseconds = [](const timespec &t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; };
    return QByteArray::number(info.size()) + ' ' + QByteArray::number(nanoseconds(st.st_mtim)) + ' ' +
           QByteArray::number(nanoseconds(st.st_ctim)) + ' ' +
           QCryptographicHash::hash(firstPage, QCryptographicHash::Sha256).toHex();
}

// The day the history open now was last checked in full (invalid: not yet).

bool logLeftOver(const QString &path)
{
    return QFileInfo::exists(path + QStringLiteral("-wal")) || QFileInfo::exists(path + QStringLiteral("-journal"));
}

// checkedOn: the day of the full check the stamp carries.
bool endedCleanly(const QString &path, QDate *checkedOn = nullptr)
{
    QFile marker(cleanEndMarkerPath(path));
    if (logLeftOver(path) || !marker.open(QIODevice::ReadOnly))
        return false;
    const QByteArray stamp = cleanEndStamp(path);
    const QByteArray line = marker.readAll().trimmed();
    if (stamp.isEmpty() || !line.startsWith(stamp + ' '))
        return false;
    if (checkedOn)
        *checkedOn = QDate::fromString(QString::fromLatin1(line.mid(stamp.size() + 1)), Qt::ISODate);
    return true;
}

} // namespace

QString cleanEndMarkerPath(const QString &path) { return path + QStringLiteral("-closed"); }



void stampCleanEnd(const QString &path, QDate checkedOn)
{
    if (logLeftOver(path) || !checkedOn.isValid())
        return;
    QFile marker(cleanEndMarkerPath(path));
    if (marker.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        marker.write(cleanEndStamp(path) + ' ' + checkedOn.toString(Qt::ISODate).toLatin1() + '\n');
        marker.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
}

bool checkHistoryFile(const QString &path, bool forReading, bool *vouched)
{
    const QDate today = seams::now().date();
    QDate checkedOn;
    if (vouched)
        *vouched = false;
    if (endedCleanly(path, &checkedOn)) {
        const QString name = QStringLiteral("passlog_history_probe");
        std::optional<Failure> failure;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
            QSqlQuery probe(db);
            if (!db.open())
                failure = Failure(14, db.lastError().text());
            else if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                failure = Failure(11, probe.lastError().text());
            probe = QSqlQuery();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        if (!failure) {
            if (!forReading)
                QFile::remove(cleanEndMarkerPath(path)); // this run has not ended yet
            // Checked in full today: as sound as after that check (otherwise
            // the background check runs today).
            history::store().fullCheckDay = today;
            if (vouched)
                *vouched = true;
            return checkedOn == today;
        }
    }
    if (!forReading)
        QFile::remove(cleanEndMarkerPath(path));
    history::store().fullCheckDay = today;
    try {
        checkOnOwnConnection(path, true);
        return true;
    } catch (const Failure &f) {
        const long code = f.number() & 0xff;
        const bool logLeft = QFileInfo::exists(path + QStringLiteral("-wal")) ||
                             QFileInfo::exists(path + QStringLiteral("-journal"));
        if (!logLeft || (code != 14 && code != 8)) // 14 cannot open, 8 read-only
            throw;
    }
    QTemporaryDir copy;
    if (!copy.isValid())
        throw Failure(14, QStringLiteral("ファイル '") + path + QStringLiteral("' を確認できません。 (") +
                              copy.errorString() + QLatin1Char(')'));
    const QString copied = copy.filePath(QStringLiteral("check.sqlite"));
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        if (QFileInfo::exists(path + suffix) && !QFile::copy(path + suffix, copied + suffix))
            throw Failure(14, QStringLiteral("ファイル '") + path + suffix + QStringLiteral("' を読めません。"));
    }
    try {
        checkOnOwnConnection(copied, false);
    } catch (const Failure &f) {
        // The report names the user's file, not the copy.
        QString text = f.description();
        text.replace(QDir::toNativeSeparators(copied), path).replace(copied, path);
        throw Failure(f.number(), text);
    }
    return true;
}

void stampCleanEndOfRun(const QString &path)
{
    // (A file made in this run was checked as it was made: today.)
    stampCleanEnd(path, history::store().fullCheckDay.isValid() ? history::store().fullCheckDay : seams::now().date());
    history::store().fullCheckDay = QDate();
}

} // namespace history
