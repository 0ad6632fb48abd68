#include "history/ServerCopy.h"

#include "app/Failure.h"
#include "history/Database.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <charconv>
#include <cstring>
#include <string>
#include <libpq-fe.h>

namespace history {

namespace {

// Bytes sent to the server at a time.
constexpr qsizetype kBlockBytes = 1 << 20;
// Rows between two questions to keepGoing.
constexpr qint64 kRowsPerQuestion = 4096;

PGconn *connectionOf(QSqlDatabase db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // (Qt names the type by its typedef or by the struct, as its version has it.)
    if (!handle.isValid() || (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        throw Failure(-1, QStringLiteral("共有の利用履歴サーバーの接続がありません。"));
    PGconn *conn = *static_cast<PGconn *const *>(handle.constData());
    if (!conn)
        throw Failure(-1, QStringLiteral("共有の利用履歴サーバーの接続がありません。"));
    return conn;
}

// The server's refusal (or the lost connection) as the rest of the program reports it.
[[noreturn]] void throwFrom(PGconn *conn, PGresult *result)
{
    QString text = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(conn)).trimmed();
    if (text.isEmpty())
        text = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const bool lost = PQstatus(conn) == CONNECTION_BAD;
    if (result)
        PQclear(result);
    // The results a refused copy leaves behind, so that the connection takes the next statement.
    if (!lost)
        while (PGresult *rest = PQgetResult(conn))
            PQclear(rest);
    history::throwServerError(QSqlError(QString(), text, lost ? QSqlError::ConnectionError : QSqlError::StatementError,
                               state ? QString::fromLatin1(state) : QString()));
}

// One statement that must end in status; its result.
PGresult *expect(PGconn *conn, PGresult *result, ExecStatusType status)
{
    if (!result || PQresultStatus(result) != status)
        throwFrom(conn, result);
    return result;
}

void appendUtf8(QByteArray &out, QStringView text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text[i].unicode();
        if (c < 0x80) {
            switch (c) {
            // What the text format reads as field and row ends, or as its escape.
            case '\\': out.append("\\\\", 2); continue;
            case '\t': out.append("\\t", 2); continue;
            case '\n': out.append("\\n", 2); continue;
            case '\r': out.append("\\r", 2); continue;
            default: out.append(char(c)); continue;
            }
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), text[++i].unicode());
        else if (QChar::isSurrogate(c))
            c = 0xfffd;
        if (c < 0x800) {
            out.append(char(0xc0 | (c >> 6)));
        } else if (c < 0x10000) {
            out.append(char(0xe0 | (c >> 12)));
            out.append(char(0x80 | ((c >> 6) & 0x3f)));
        } else {
            out.append(char(0xf0 | (c >> 18)));
            out.append(char(0x80 | ((c >> 12) & 0x3f)));
            out.append(char(0x80 | ((c >> 6) & 0x3f)));
        }
        out.append(char(0x80 | (c & 0x3f)));
    }
}

} // namespace

ServerCopyIn::ServerCopyIn(QSqlDatabase db, const QString &table, const QStringList &columns)
    : m_conn(connectionOf(db))
{
    QStringList quoted;
    for (const QString &c : columns) {
        const bool ascii = std::all_of(c.cbegin(), c.cend(), [](QChar x) { return x.unicode() < 0x80; });
        quoted << (ascii ? c : QLatin1Char('"') + c + QLatin1Char('"'));
    }
    const QByteArray sql = (QStringLiteral("COPY ") + table + QStringLiteral(" (") + quoted.join(QLatin1Char(',')) +
                            QStringLiteral(") FROM STDIN"))
                               .toUtf8();
    PQclear(expect(m_conn, PQexec(m_conn, sql.constData()), PGRES_COPY_IN));
    m_open = true;
    m_block.reserve(kBlockBytes + 64 * 1024);
}

ServerCopyIn::~ServerCopyIn()
{
    if (!m_open)
        return;
    if (PQputCopyEnd(m_conn, "abandoned") == 1)
        while (PGresult *rest = PQgetResult(m_conn))
            PQclear(rest);
}

void ServerCopyIn::separate()
{
    if (m_rowStarted)
        m_block.append('\t');
    m_rowStarted = true;
}

void ServerCopyIn::null()
{
    separate();
    m_block.append("\\N", 2);
}

void ServerCopyIn::integer(qint64 value)
{
    separate();
    m_block.append(QByteArray::number(value));
}

void ServerCopyIn::boolean(bool value)
{
    separate();
    m_block.append(value ? 't' : 'f');
}

void ServerCopyIn::text(QStringView value)
{
    separate();
    appendUtf8(m_block, value);
}

void ServerCopyIn::text(std::string_view utf8)
{
    separate();
    for (const char c : utf8) {
        switch (c) {
        case '\\': m_block.append("\\\\", 2); break;
        case '\t': m_block.append("\\t", 2); break;
        case '\n': m_block.append("\\n", 2); break;
        case '\r': m_block.append("\\r", 2); break;
        default: m_block.append(c);
        }
    }
}

void ServerCopyIn::field(const QVariant &value)
{
    if (value.isNull())
        return null();
    switch (value.typeId()) {
    case QMetaType::Bool: return boolean(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return integer(value.toLongLong());
    default: return text(QStringView(value.toString()));
    }
}

void ServerCopyIn::endRow()
{
    m_block.append('\n');
    m_rowStarted = false;
    ++m_rows;
    if (m_block.size() >= kBlockBytes)
        send();
}

void ServerCopyIn::send()
{
    if (!m_block.isEmpty() && PQputCopyData(m_conn, m_block.constData(), int(m_block.size())) != 1)
        throwFrom(m_conn, nullptr);
    m_block.resize(0);
}

qint64 ServerCopyIn::finish()
{
    send();
    m_open = false;
    if (PQputCopyEnd(m_conn, nullptr) != 1)
        throwFrom(m_conn, nullptr);
    PGresult *done = expect(m_conn, PQgetResult(m_conn), PGRES_COMMAND_OK);
    const qint64 rows = QByteArray(PQcmdTuples(done)).toLongLong();
    PQclear(done);
    while (PGresult *rest = PQgetResult(m_conn))
        PQclear(rest);
    return rows;
}

ServerCopyOut::ServerCopyOut(QSqlDatabase db, const QString &select, std::function<bool()> keepGoing)
    : m_conn(connectionOf(db)), m_keepGoing(std::move(keepGoing))
{
    // (A statement's closing ";" would end the COPY around it.)
    QByteArray sql = select.toUtf8().trimmed();
    while (sql.endsWith(';'))
        sql = sql.chopped(1).trimmed();
    // The columns first: names and types.
    PQclear(expect(m_conn, PQprepare(m_conn, "", sql.constData(), 0, nullptr), PGRES_COMMAND_OK));
    PGresult *described = expect(m_conn, PQdescribePrepared(m_conn, ""), PGRES_COMMAND_OK);
    for (int i = 0; i < PQnfields(described); ++i) {
        m_names << QString::fromUtf8(PQfname(described, i));
        // The types' numbers are fixed in every server (pg_type.h).
        switch (PQftype(described, i)) {
        case 16: case 20: case 21: case 23: m_kinds.push_back(Kind::Integer); break; // bool, int8, int2, int4
        case 700: case 701: m_kinds.push_back(Kind::Real); break;                    // float4, float8
        case 17: m_kinds.push_back(Kind::Blob); break;                               // bytea
        case 25: case 1042: case 1043: case 19: m_kinds.push_back(Kind::Text); break; // text, char, varchar, name
        default: {
            const unsigned type = PQftype(described, i);
            PQclear(described);
            throw Failure(-1, QStringLiteral("共有の利用履歴サーバーの列 %1 の型(%2)は読めません。")
                                  .arg(m_names.last())
                                  .arg(type));
        }
        }
    }
    PQclear(described);
    m_fields.resize(m_kinds.size());
    m_nulls.resize(m_kinds.size());
    m_unescaped.resize(m_kinds.size());
    // (The text form costs the server less than the binary one.)
    PQclear(expect(m_conn, PQexec(m_conn, "COPY (" + sql + ") TO STDOUT"), PGRES_COPY_OUT));
}

ServerCopyOut::~ServerCopyOut()
{
    if (m_message)
        PQfreemem(m_message);
    if (m_done)
        return;
    // Stopped half-way: the server is asked to cancel, the rest is read and dropped.
    if (PGcancel *cancel = PQgetCancel(m_conn)) {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
    }
    char *rest = nullptr;
    while (PQgetCopyData(m_conn, &rest, 0) > 0)
        PQfreemem(rest);
    while (PGresult *result = PQgetResult(m_conn))
        PQclear(result);
}

int ServerCopyOut::column(const QString &name) const
{
    for (int i = 0; i < m_names.size(); ++i)
        if (m_names[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void ServerCopyOut::fail()
{
    // (Not done: the destructor cancels the copy and reads the rest, so that
    // the connection takes the next statement.)
    throw Failure(-1, QStringLiteral("共有の利用履歴サーバーから読んだ行の形が正しくありません。"));
}

bool ServerCopyOut::next()
{
    if (m_done || m_stopped)
        return false;
    if (m_keepGoing && ++m_rowsRead % kRowsPerQuestion == 0 && !m_keepGoing()) {
        m_stopped = true;
        return false;
    }
    for (;;) {
        if (m_message) {
            PQfreemem(m_message);
            m_message = nullptr;
        }
        const int n = PQgetCopyData(m_conn, &m_message, 0);
        if (n == -1) {
            m_done = true;
            PQclear(expect(m_conn, PQgetResult(m_conn), PGRES_COMMAND_OK));
            while (PGresult *rest = PQgetResult(m_conn))
                PQclear(rest);
            return false;
        }
        if (n < 0) {
            m_done = true;
            throwFrom(m_conn, PQgetResult(m_conn));
        }
        // One row a message: fields apart by tabs, a line end last; Null is
        // \N; a backslash, tab, line end or other control character in a
        // text comes as a backslash sequence.
        const char *p = m_message;
        const char *const end = p + n - (n > 0 && m_message[n - 1] == '\n' ? 1 : 0);
        for (size_t i = 0; i < m_kinds.size(); ++i) {
            if (p > end)
                fail();
            const char *q = static_cast<const char *>(std::memchr(p, '\t', size_t(end - p)));
            if (!q)
                q = end;
            std::string_view field(p, size_t(q - p));
            m_nulls[i] = field == "\\N";
            if (!m_nulls[i] && field.find('\\') != std::string_view::npos) {
                std::string &plain = m_unescaped[i];
                plain.clear();
                for (size_t k = 0; k < field.size(); ++k) {
                    char c = field[k];
                    if (c == '\\' && k + 1 < field.size()) {
                        switch (field[++k]) {
                        case 'b': c = '\b'; break;
                        case 'f': c = '\f'; break;
                        case 'n': c = '\n'; break;
                        case 'r': c = '\r'; break;
                        case 't': c = '\t'; break;
                        case 'v': c = '\v'; break;
                        default: c = field[k];
                        }
                    }
                    plain += c;
                }
                field = plain;
            }
            m_fields[i] = field;
            p = q + 1;
        }
        if (p != end + 1)
            fail();
        return true;
    }
}

ServerCopyOut::Kind ServerCopyOut::kind(int column) const
{
    return m_nulls[column] ? Kind::Null : m_kinds[column];
}

qint64 ServerCopyOut::integer(int column) const
{
    const std::string_view f = m_fields[column];
    if (f == "t" || f == "f") // a boolean
        return f == "t";
    qint64 v = 0;
    std::from_chars(f.data(), f.data() + f.size(), v);
    return v;
}

double ServerCopyOut::real(int column) const
{
    return QByteArray(m_fields[column].data(), qsizetype(m_fields[column].size())).toDouble();
}

std::string_view ServerCopyOut::bytes(int column) const { return m_fields[column]; }

void loadSpotsOnServer(QSqlDatabase db, const history::PassageSpots &spots)
{
    {
        QSqlQuery q(db);
        history::runText(q, QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS passlog_spots (card TEXT COLLATE \"C\", "
                                        "dt TEXT COLLATE \"C\")"),
                      true);
        history::runText(q, QStringLiteral("TRUNCATE passlog_spots"), true);
    }
    ServerCopyIn in(db, QStringLiteral("passlog_spots"), {QStringLiteral("card"), QStringLiteral("dt")});
    QByteArray card, dateTime;
    while (spots(card, dateTime)) {
        in.text(std::string_view(card.constData(), size_t(card.size())));
        in.text(std::string_view(dateTime.constData(), size_t(dateTime.size())));
        in.endRow();
    }
    in.finish();
    QSqlQuery q(db);
    history::runText(q, QStringLiteral("ANALYZE passlog_spots"), true);
}

ServerBulkLoad::ServerBulkLoad(QSqlDatabase db, qint64 expectedRows, const std::function<bool()> &keepGoing)
    : m_db(db)
{
    if (expectedRows <= 1000)
        return;
    QSqlQuery q(db);
    history::runText(q, QStringLiteral("SELECT pg_has_role(c.relowner, 'USAGE') FROM pg_class c "
                                    "WHERE c.oid = to_regclass('etc_data')"),
                  true);
    if (!q.next() || !q.value(0).toBool())
        return; // not the table's owner: the indexes stay
    history::runText(q, QStringLiteral("SELECT count(*) FROM ETC_DATA"), true);
    if (!q.next() || q.value(0).toLongLong() >= expectedRows)
        return;
    q.finish();
    history::lockServerTable(db, QStringLiteral("ACCESS EXCLUSIVE"), keepGoing);
    // Every index but the key's (a constraint, and kept up to date cheaply: it only grows).
    history::runText(q,
                     QStringLiteral("SELECT quote_ident(n.nspname) || '.' || quote_ident(c.relname), "
                                 "pg_get_indexdef(i.indexrelid) FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
                                 "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE i.indrelid = to_regclass('etc_data') "
                                 "AND NOT EXISTS (SELECT 1 FROM pg_constraint k WHERE k.conindid = i.indexrelid)"),
                  true);
    QStringList names;
    while (q.next()) {
        names << q.value(0).toString();
        m_indexes << q.value(1).toString();
    }
    q.finish();
    for (const QString &name : std::as_const(names))
        history::runText(q, QStringLiteral("DROP INDEX ") + name, true);
    // Room for the sorts that build them again.
    history::runText(q, QStringLiteral("SET LOCAL maintenance_work_mem = '256MB'"), true);
}

bool ServerBulkLoad::rebuild(const std::function<bool()> &keepGoing)
{
    QSqlQuery q(m_db);
    for (const QString &index : std::as_const(m_indexes)) {
        if (keepGoing && !keepGoing())
            return false;
        history::runText(q, index, true);
    }
    m_indexes.clear();
    return true;
}

} // namespace history
