#pragma once
// CSV取込's writers: the new rows into the history file (through SQLite on a
// connection of its own) or into the shared history on the server (through
// COPY), each in one transaction: all of the rows or none.

#include "app/Failure.h"
#include "history/HistoryColumns.h"
#include "history/HistoryWorker.h"
#include "history/ServerCopy.h"
#include "history/Transaction.h"
#include "reports/CsvRecords.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace reports::csvimport {

// A value of a new history row. A text is a view of the record's text or of
// the value's own buffer, which the next row reuses.
struct Value {
    enum Type { Null, Integer, Text } type = Null;
    qint64 number = 0;
    QStringView text;
    QString own;

    void setNumber(qint64 n)
    {
        type = Integer;
        number = n;
    }
    void setText(QStringView v)
    {
        type = Text;
        text = v;
    }
    template <typename... Parts>
    void compose(const Parts &...parts)
    {
        own.resize(0);
        (own.append(parts), ...);
        setText(own);
    }
    void setField(const Record &r, int i)
    {
        const Field &x = r.f[i];
        if (x.kind == Kind::Null) {
            type = Null;
        } else if (x.kind == Kind::Bare) {
            setNumber(x.number);
        } else if (!x.doubled) {
            setText(x.raw);
        } else {
            own = r.text(i);
            setText(own);
        }
    }
};
using Row = std::array<Value, 28>;

// Fills the 28 columns of the history row of a record, in the order of
// kHistoryColumnNames: the coded columns from the fields, the display
// columns built from them as the staging builds them.
void rowOf(const Record &r, const QString &card, const QString &regDate, const QString &regTime, Row &row);

// The history file, written through SQLite itself on a connection of its
// own: one transaction, a prepared statement bound value by value.
class FileWriter {
public:
    // Takes the file's write lock: what the history holds is read after this.
    FileWriter();
    // Before the first row; expected: the number of rows to come.
    void begin(qint64 expected, const std::function<bool()> &);
    ~FileWriter();

    void add(const Row &row);
    // False when keepGoing said no while the indexes were built: nothing is kept.
    bool commit(const std::function<bool()> &keepGoing);

private:
    static int askToGoOn(void *self);
    qint64 count(const char *sql);
    void run(const char *sql);
    [[noreturn]] void fail();

    QString m_path;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    quint64 m_uidHigh = 0, m_uidLow = 0; // the next row's identity
    QList<QByteArray> m_indexes; // dropped for the import, made again before the commit
    std::function<bool()> m_keepGoing;
    bool m_stopped = false;
    bool m_open = false;
};

// The shared history on the server: one server transaction, the rows
// through COPY.
class ServerWriter {
public:
    explicit ServerWriter(const history::KeepGoing &keepGoing);
    ~ServerWriter();
    void begin(qint64 expected, const std::function<bool()> &keepGoing);
    void add(const Row &row);
    bool commit(const std::function<bool()> &keepGoing);

private:
    // A refusal of the server while rows go in is the import's refusal.
    template <typename Work>
    static std::invoke_result_t<Work> refusedAsImport(Work work)
    {
        try {
            return work();
        } catch (const ExpectedFailure &e) {
            refuseImport(e.description());
        }
    }
    static inline const int kPrintFlagColumn = int(kHistoryColumnNames.indexOf(kColumnPrintFlag));

    QSqlDatabase m_db;
    history::Transaction m_transaction; // (ends after the copy, which is declared after it)
    std::optional<history::ServerBulkLoad> m_bulk;
    std::unique_ptr<history::ServerCopyIn> m_copy;
};

} // namespace reports::csvimport
