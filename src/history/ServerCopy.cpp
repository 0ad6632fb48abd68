#include "history/ServerCopy.h"
#include "history/ServerWire.h"

#include "app/Failure.h"
#include "history/Database.h"

#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <sys/socket.h>
#endif

namespace history {

using namespace wire;

namespace {

// Bytes sent to the server at a time.
constexpr qsizetype kBlockBytes = 1 << 20;
// Rows between two questions to keepGoing.
constexpr qint64 kRowsPerQuestion = 4096;

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
    try {
        PQclear(expectSent(m_conn, PQsendQuery(m_conn, sql.constData()), PGRES_COPY_IN));
    } catch (const ServerSilent &) {
        history::throwServerSilent();
    }
    m_open = true;
    // The rows are handed over without blocking: a server that stops taking
    // them is waited for within the bound, not for ever.
    PQsetnonblocking(m_conn, 1);
    m_block.reserve(kBlockBytes + 64 * 1024);
}

ServerCopyIn::~ServerCopyIn()
{
    if (!m_open)
        return;
    try {
        if (PQputCopyEnd(m_conn, "abandoned") >= 0)
            flushAll(m_conn);
    } catch (const ServerSilent &) {
    } catch (const Failure &) {
    }
    dropResults(m_conn);
    PQsetnonblocking(m_conn, 0);
}

void ServerCopyIn::abandon()
{
    // (The connection goes with the failure: nothing here may touch it again.)
    m_open = false;
    m_conn = nullptr;
    history::throwServerSilent();
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
    try {
        while (!m_block.isEmpty()) {
            const int queued = PQputCopyData(m_conn, m_block.constData(), int(m_block.size()));
            if (queued < 0)
                throwFrom(m_conn, nullptr);
            if (queued == 1)
                break;
            flushAll(m_conn); // full: what is queued goes first
        }
        m_block.resize(0);
        // (Sent now, not at the next block: the server reads as it goes.)
        flushAll(m_conn);
    } catch (const ServerSilent &) {
        abandon();
    }
}

qint64 ServerCopyIn::finish()
{
    send();
    m_open = false;
    try {
        int ended;
        while ((ended = PQputCopyEnd(m_conn, nullptr)) == 0)
            flushAll(m_conn);
        if (ended < 0)
            throwFrom(m_conn, nullptr);
        flushAll(m_conn);
        PQsetnonblocking(m_conn, 0);
        PGresult *done = expect(m_conn, nextResult(m_conn), PGRES_COMMAND_OK);
        const qint64 rows = QByteArray(PQcmdTuples(done)).toLongLong();
        PQclear(done);
        while (PGresult *rest = nextResult(m_conn))
            PQclear(rest);
        return rows;
    } catch (const ServerSilent &) {
        abandon();
    } catch (...) {
        if (m_conn)
            PQsetnonblocking(m_conn, 0);
        throw;
    }
}

ServerCopyOut::ServerCopyOut(QSqlDatabase db, const QString &select, std::function<bool()> keepGoing)
    : m_conn(connectionOf(db)), m_keepGoing(std::move(keepGoing))
{
    // (A statement's closing ";" would end the COPY around it.)
    QByteArray sql = select.toUtf8().trimmed();
    while (sql.endsWith(';'))
        sql = sql.chopped(1).trimmed();
    try {
        // The columns first: names and types.
        runSent(m_conn, PQsendPrepare(m_conn, "", sql.constData(), 0, nullptr), PGRES_COMMAND_OK);
        PGresult *described = expectSent(m_conn, PQsendDescribePrepared(m_conn, ""), PGRES_COMMAND_OK);
        while (PGresult *rest = nextResult(m_conn))
            PQclear(rest);
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
        PQclear(expectSent(m_conn, PQsendQuery(m_conn, "COPY (" + sql + ") TO STDOUT"), PGRES_COPY_OUT));
    } catch (const ServerSilent &) {
        history::throwServerSilent();
    }
}

ServerCopyOut::~ServerCopyOut()
{
    if (m_message)
        PQfreemem(m_message);
    if (m_done)
        return;
    // Stopped half-way: the server is asked to cancel, the rest is read and
    // dropped (within the bound: a silent server's connection is shut).
    if (PGcancel *cancel = PQgetCancel(m_conn)) {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
    }
    try {
        for (;;) {
            char *rest = nullptr;
            const int n = PQgetCopyData(m_conn, &rest, 1);
            if (rest)
                PQfreemem(rest);
            if (n > 0)
                continue;
            if (n < 0)
                break;
            waitForServer(m_conn, false);
            if (!PQconsumeInput(m_conn))
                break;
        }
    } catch (const ServerSilent &) {
        return;
    }
    dropResults(m_conn);
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
        // A row when one has arrived; otherwise the socket is waited for,
        // within the bound and asking keepGoing, never blocking.
        int n = 0;
        try {
            n = PQgetCopyData(m_conn, &m_message, 1);
            if (n == 0) {
                if (waitForServer(m_conn, false, m_keepGoing) == Waited::Stopped) {
                    m_stopped = true;
                    return false;
                }
                if (!PQconsumeInput(m_conn)) {
                    m_done = true;
                    throwFrom(m_conn, nextResult(m_conn));
                }
                continue;
            }
            if (n == -1) {
                m_done = true;
                PQclear(expect(m_conn, nextResult(m_conn), PGRES_COMMAND_OK));
                while (PGresult *rest = nextResult(m_conn))
                    PQclear(rest);
                return false;
            }
            if (n < 0) {
                m_done = true;
                throwFrom(m_conn, nextResult(m_conn));
            }
        } catch (const ServerSilent &) {
            // (The connection goes with the failure: the destructor leaves it alone.)
            m_done = true;
            m_conn = nullptr;
            history::throwServerSilent();
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

} // namespace history
