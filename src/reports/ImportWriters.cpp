#include "reports/ImportWriters.h"

#include "app/Failure.h"
#include "history/DatabaseErrors.h"
#include "history/HistoryColumns.h"
#include "history/Database.h"
#include "history/Staging.h"

#include <QDir>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <sqlite3.h>

namespace reports::csvimport {

namespace {
// Virtual machine steps of SQLite between two questions to the progress.
constexpr int kStepsPerQuestion = 20000;

} // namespace

void rowOf(const Record &r, const QString &card, const QString &regDate, const QString &regTime, Row &row)
{
    static constexpr int kCoded[][2] = {{0, fItcIn},      {1, fItcInRoad},   {2, fItcInGate}, {3, fJidIn},
                                        {4, fJidInName},  {5, fItcOut},      {6, fItcOutRoad}, {7, fItcOutGate},
                                        {8, fJidOut},     {9, fJidOutName},  {13, fDate},      {14, fTime},
                                        {16, fCarCode},   {17, fCarName},    {18, fMoney},     {19, fUnit},
                                        {22, fDate},      {23, fTime},       {25, fCarName}};
    for (const auto &c : kCoded)
        row[c[0]].setField(r, c[1]);
    row[10].setText(regDate);
    row[11].setText(regTime);
    row[12].setText(card);
    row[15].compose(r.f[fDate].raw, QChar(u'-'), r.f[fTime].raw);
    row[20].setNumber(0);
    row[21].setText(card);
    const Value &money = row[18], &unit = row[19];
    if (unit.type == Value::Text && unit.text == u"未確定")
        row[24].setText(unit.text);
    else if (money.type == Value::Integer)
        row[24].compose(unit.type == Value::Text
                            ? history::displayToll(qint32(money.number), unit.text.toString())
                            : QString::number(money.number));
    else
        row[24].compose(unit.type == Value::Text ? unit.text : QStringView());
    const auto textOf = [&](int i) { return row[i].type == Value::Text ? row[i].text : QStringView(); };
    row[26].compose(textOf(1), QChar(u' '), textOf(2));
    row[27].compose(textOf(6), QChar(u' '), textOf(7));
}


FileWriter::FileWriter()
{
    const QString path = history::database(DbConnection::History).databaseName();
    m_path = QDir::toNativeSeparators(path);
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        fail();
    sqlite3_busy_timeout(m_db, 5000);
    run("BEGIN IMMEDIATE");
    m_open = true;
}

void FileWriter::begin(qint64 expected, const std::function<bool()> &)
{
    // Room for the index pages the new rows land on, about one each: the
    // memory follows the import's size, not the history's.
    run(QByteArray("PRAGMA cache_size=-" + QByteArray::number(std::clamp<qint64>(expected, 2000, 262144))).constData());
    // More new rows than old ones: the indexes are built again at the end
    // (a sort) rather than kept row by row, in the same transaction.
    if (expected > 1000 && expected > count("SELECT COUNT(*) FROM ETC_DATA")) {
        sqlite3_stmt *q = nullptr;
        if (sqlite3_prepare_v2(m_db, "SELECT name, sql FROM sqlite_master WHERE type='index' AND "
                                     "tbl_name='ETC_DATA' AND sql IS NOT NULL", -1, &q, nullptr) != SQLITE_OK)
            fail();
        QList<QByteArray> names;
        while (sqlite3_step(q) == SQLITE_ROW) {
            names << reinterpret_cast<const char *>(sqlite3_column_text(q, 0));
            m_indexes << reinterpret_cast<const char *>(sqlite3_column_text(q, 1));
        }
        sqlite3_finalize(q);
        for (const QByteArray &name : std::as_const(names))
            run(("DROP INDEX \"" + name + "\"").constData());

    }
    QStringList columns = kHistoryColumnNames;
    columns << QStringLiteral("ROW_UID");
    QStringList marks(kHistoryColumnNames.size(), QStringLiteral("?"));
    marks << QStringLiteral("?");
    // The rows' identities: 128 random bits for the first, the next ones
    // counting on from it. Unique as random ones are (the import's 64
    // random high bits), they lie side by side in their index, so that an
    // import changes a few of its pages, not one page per row all over.
    m_uidHigh = QRandomGenerator::system()->generate64();
    m_uidLow = QRandomGenerator::system()->generate64() >> 1; // (room to count)
    const QByteArray sql = (QStringLiteral("INSERT INTO ETC_DATA (") + columns.join(QLatin1Char(',')) +
                            QStringLiteral(") VALUES (") + marks.join(QLatin1Char(',')) + QLatin1Char(')'))
                               .toUtf8();
    if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &m_insert, nullptr) != SQLITE_OK)
        fail();
}

FileWriter::~FileWriter()
{
    sqlite3_finalize(m_insert);
    if (m_open)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
}

void FileWriter::add(const Row &row)
{
    for (int i = 0; i < int(row.size()); ++i) {
        const Value &v = row[i];
        if (v.type == Value::Null)
            sqlite3_bind_null(m_insert, i + 1);
        else if (v.type == Value::Integer)
            sqlite3_bind_int64(m_insert, i + 1, v.number);
        else
            // (an empty text, never Null)
            sqlite3_bind_text16(m_insert, i + 1, v.text.isNull() ? u"" : v.text.utf16(),
                                int(v.text.size() * 2), SQLITE_STATIC);
    }
    char uid[33];
    std::snprintf(uid, sizeof uid, "%016llx%016llx", static_cast<unsigned long long>(m_uidHigh),
                  static_cast<unsigned long long>(m_uidLow++));
    sqlite3_bind_text(m_insert, int(row.size()) + 1, uid, 32, SQLITE_TRANSIENT);
    if (sqlite3_step(m_insert) != SQLITE_DONE)
        fail();
    sqlite3_reset(m_insert);
}

bool FileWriter::commit(const std::function<bool()> &keepGoing)
{
    // Building the indexes takes a while: the progress hears of it now and then.
    if (keepGoing)
        sqlite3_progress_handler(m_db, kStepsPerQuestion, &FileWriter::askToGoOn, this);
    m_keepGoing = keepGoing;
    for (const QByteArray &sql : std::as_const(m_indexes)) {
        if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            if (m_stopped)
                return false; // rolled back by the destructor
            fail();
        }
    }
    sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
    run("COMMIT");
    m_open = false;
    return true;
}

int FileWriter::askToGoOn(void *self)
{
    auto *w = static_cast<FileWriter *>(self);
    w->m_stopped = w->m_stopped || !w->m_keepGoing();
    return w->m_stopped ? 1 : 0;
}

qint64 FileWriter::count(const char *sql)
{
    sqlite3_stmt *q = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &q, nullptr) != SQLITE_OK)
        fail();
    const qint64 n = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int64(q, 0) : 0;
    sqlite3_finalize(q);
    return n;
}

void FileWriter::run(const char *sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail();
}

[[noreturn]] void FileWriter::fail()
{
    // The common causes (a full disk, a read-only file, ...) in Japanese first.
    const QString sentence = m_db ? history::databaseErrorSentence(long(sqlite3_extended_errcode(m_db)), m_path) : QString();
    refuseImport((sentence.isEmpty() ? QString() : sentence + QLatin1Char(' ')) +
                 (m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("SQLite")) +
                 QStringLiteral(" [") + m_path + QLatin1Char(']'));
}
ServerWriter::ServerWriter(const history::KeepGoing &keepGoing)
    : m_db(history::database(DbConnection::Server)), m_transaction(m_db, true)
{
    // What the server holds is read after this lock is taken: a second PC
    // importing the same file waits, then finds this one's rows there.
    history::lockServerHistoryWriters(m_db, keepGoing);
}

ServerWriter::~ServerWriter()
{
    m_copy.reset(); // an unfinished copy ends before the rollback
}

void ServerWriter::begin(qint64 expected, const std::function<bool()> &keepGoing)
{
    refusedAsImport([&] {
        m_bulk.emplace(m_db, expected, keepGoing);
        m_copy = std::make_unique<history::ServerCopyIn>(m_db, kTableData, kHistoryColumnNames);
    });
}

void ServerWriter::add(const Row &row)
{
    refusedAsImport([&] {
        for (int i = 0; i < int(row.size()); ++i) {
            const Value &v = row[i];
            if (i == kPrintFlagColumn)
                m_copy->boolean(false);
            else if (v.type == Value::Null)
                m_copy->null();
            else if (v.type == Value::Integer)
                m_copy->integer(v.number);
            else
                m_copy->text(v.text);
        }
        m_copy->endRow();
    });
}

bool ServerWriter::commit(const std::function<bool()> &keepGoing)
{
    return refusedAsImport([&] {
        m_copy->finish();
        m_copy.reset();
        if (!m_bulk->rebuild(keepGoing))
            return false; // rolled back by the destructor
        m_transaction.commit();
        return true;
    });
}

} // namespace reports::csvimport
