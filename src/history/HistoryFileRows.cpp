#include "history/HistoryFileRows.h"

#include "app/Failure.h"
#include "history/Database.h"

#include <QDir>
#include <sqlite3.h>

namespace {
// Virtual machine steps between two questions to keepGoing: a few
// milliseconds of sorting.
constexpr int kStepsPerQuestion = 20000;

[[noreturn]] void throwFileError(sqlite3 *db, int code, const QString &path)
{
    const QString text = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(code));
    history::throwSqlError(QSqlError(QStringLiteral("Unable to fetch row"), text, QSqlError::StatementError,
                            QString::number(code)),
                  QString(), QDir::toNativeSeparators(path));
}
} // namespace

bool history::HistoryFileRows::readsFile(const QString &jetStatement)
{
    return history::route(DbConnection::History, jetStatement) == DbConnection::History;
}

history::HistoryFileRows::HistoryFileRows(const QString &jetStatement, std::function<bool()> keepGoing,
                                          const history::PassageSpots &spots)
    : m_keepGoing(std::move(keepGoing))
{
    // The file the history connection has open, read through a connection of
    // our own: the SQLite linked here need not be the one inside Qt's driver.
    const QString path = history::database(DbConnection::History).databaseName();
    const QByteArray file = path.toUtf8();
    int rc = sqlite3_open_v2(file.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString text = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString();
        sqlite3_close(m_db);
        m_db = nullptr;
        history::throwSqlError(QSqlError(QStringLiteral("Error opening database"), text, QSqlError::ConnectionError,
                                QString::number(rc)),
                      QString(), QDir::toNativeSeparators(path));
    }
    sqlite3_busy_timeout(m_db, 5000);
    if (m_keepGoing)
        sqlite3_progress_handler(m_db, kStepsPerQuestion, &history::HistoryFileRows::progress, this);
    const QByteArray sql = history::sqliteText(jetStatement).toUtf8();
    if (spots) {
        try {
            loadSpots(spots, path);
        } catch (...) {
            sqlite3_close(m_db);
            m_db = nullptr;
            throw;
        }
    }
    rc = sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &m_statement, nullptr);
    if (rc != SQLITE_OK) {
        try {
            throwFileError(m_db, rc, path);
        } catch (...) {
            sqlite3_close(m_db);
            m_db = nullptr;
            throw;
        }
    }
}

void history::HistoryFileRows::loadSpots(const history::PassageSpots &spots, const QString &path)
{
    // (The temporary tables of a read-only connection are its own and writable.)
    int rc = sqlite3_exec(m_db, "CREATE TEMP TABLE passlog_spots (card TEXT, dt TEXT)", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    if (rc == SQLITE_OK)
        rc = sqlite3_prepare_v2(m_db, "INSERT INTO passlog_spots VALUES (?, ?)", -1, &insert, nullptr);
    QByteArray card, dateTime;
    while (rc == SQLITE_OK && spots(card, dateTime)) {
        sqlite3_bind_text(insert, 1, card.constData(), int(card.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, dateTime.constData(), int(dateTime.size()), SQLITE_STATIC);
        rc = sqlite3_step(insert) == SQLITE_DONE ? sqlite3_reset(insert) : sqlite3_errcode(m_db);
    }
    sqlite3_finalize(insert);
    if (rc != SQLITE_OK)
        throwFileError(m_db, rc, path);
}

history::HistoryFileRows::~HistoryFileRows()
{
    sqlite3_finalize(m_statement);
    sqlite3_close(m_db);
}

int history::HistoryFileRows::progress(void *self)
{
    auto *rows = static_cast<history::HistoryFileRows *>(self);
    if (!rows->m_keepGoing())
        rows->m_stopped = true;
    return rows->m_stopped ? 1 : 0;
}

int history::HistoryFileRows::column(const QString &name) const
{
    const QByteArray wanted = name.toUtf8();
    const int n = sqlite3_column_count(m_statement);
    for (int i = 0; i < n; ++i) {
        if (sqlite3_stricmp(sqlite3_column_name(m_statement, i), wanted.constData()) == 0)
            return i;
    }
    return -1;
}

bool history::HistoryFileRows::next()
{
    if (m_done || m_stopped)
        return false;
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    m_done = true;
    if (rc == SQLITE_DONE || m_stopped)
        return false;
    throwFileError(m_db, rc, QString::fromUtf8(sqlite3_db_filename(m_db, "main")));
}

history::HistoryFileRows::Kind history::HistoryFileRows::kind(int column) const
{
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER: return Kind::Integer;
    case SQLITE_FLOAT: return Kind::Real;
    case SQLITE_BLOB: return Kind::Blob;
    case SQLITE_NULL: return Kind::Null;
    default: return Kind::Text;
    }
}

qint64 history::HistoryFileRows::integer(int column) const { return sqlite3_column_int64(m_statement, column); }

double history::HistoryFileRows::real(int column) const { return sqlite3_column_double(m_statement, column); }

std::string_view history::HistoryFileRows::bytes(int column) const
{
    // A text as UTF-8 (no conversion in a UTF-8 database), a blob as it is.
    const void *data = sqlite3_column_type(m_statement, column) == SQLITE_BLOB
                           ? sqlite3_column_blob(m_statement, column)
                           : static_cast<const void *>(sqlite3_column_text(m_statement, column));
    const int n = sqlite3_column_bytes(m_statement, column);
    return data ? std::string_view(static_cast<const char *>(data), size_t(n)) : std::string_view();
}
