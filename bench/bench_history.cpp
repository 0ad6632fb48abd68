// History database benchmark: all-cards read with grid load, the monthly
// totals of that view (月別集計's open time), the duplicate
// select, the duplicate display (its grid load) and the duplicate deletion
// for one card on 100,000 and 1,000,000 rows (about 5 % duplicates over
// 50 cards), and on 4,000 rows the duplicate condition as literally written
// (a correlated sub-query) against the grouped form the program runs.
//
// On 1,000,000 rows the duplicate display is also compared with the plain
// GROUP BY of the six columns in the sqlite3 shell on the same file
// (duplicate_display_ratio), and the registration of 100,000 staged rows
// with the shell's INSERT … SELECT in one transaction on a copy of the same
// file (register_ratio). The 1,000,000 rows are then exported as a CSV
// file and imported into an empty history (import_1m_s), against the shell's
// ".import" of the same file into a plain table (import_ratio), and DB削除
// of all 1,000,000 rows, kept for undo, against the same DELETE in the shell
// (delete_1m_ratio, with how fast a 中止 in the middle answers).
//
// Prints "name: value" lines, times in seconds; the last line is the
// 4,000-row ratio. Exits 1 when the two forms return different rows or a
// deletion removes other rows than the rule says.

#include "BenchSupport.h"
#include "app/Seams.h"
#include "app/Constants.h"
#include "history/HistoryGridModel.h"
#include "history/MonthlyTotals.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "history/GridLoad.h"
#include "history/Duplicates.h"
#include "history/ShownRows.h"

#include "history/Registration.h"
#include "reports/CsvExport.h"
#include "reports/CsvImport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {

QTextStream out(stdout);
bool g_deleteOk = true; // every duplicate deletion removed what the rule says, and no passage

void print(const QString &name, const QString &value)
{
    out << name << ": " << value << Qt::endl;
}
void print(const QString &name, double seconds) { print(name, QString::number(seconds, 'f', 3)); }

struct Passage {
    QString date, time, toll, car, in, out;
};

// Appends rows to ETC_DATA: distinct passages, and about one row in twenty
// a copy of an earlier passage under a random one of the 50 cards.
class Filler {
public:
    void fill(qint64 rows)
    {
        static const QStringList cars{"普通車", "中型車", "大型車", "軽自動車等"};
        static const QStringList gates{"東名高速道路 東京", "東名高速道路 厚木",   "中央自動車道 八王子",
                                       "関越自動車道 練馬", "名神高速道路 吹田", "東北自動車道 浦和",
                                       "首都高速道路 本線", "常磐自動車道 三郷"};
        QSqlDatabase db = history::database(DbConnection::History);
        db.transaction();
        QSqlQuery q(db);
        q.prepare("INSERT INTO ETC_DATA (ITC_IN,ITC_OUT,JID_IN,JID_OUT,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,"
                  "CAR_CODE,CAR_NAME,PASS_MONEY,PASS_UNIT,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,"
                  "出口料金所) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        const QDateTime base(QDate(2015, 1, 1), QTime(0, 0, 0), Qt::UTC);
        for (qint64 i = 0; i < rows; ++i) {
            Passage p;
            if (!m_kept.isEmpty() && m_rng.bounded(100) < 5) {
                p = m_kept[m_rng.bounded(qsizetype(m_kept.size()))];
            } else {
                // Distinct moments: the n-th passage is n * 97 seconds after the base.
                const QDateTime t = base.addSecs(m_serial++ * 97);
                const int money = 100 * int(1 + m_rng.bounded(40));
                p = {t.toString("yyyy/MM/dd"), t.toString("HH:mm:ss"), QString::number(money) + "円",
                     cars[m_rng.bounded(cars.size())], gates[m_rng.bounded(gates.size())],
                     gates[m_rng.bounded(gates.size())]};
                if (m_kept.size() < 20000)
                    m_kept << p;
                else
                    m_kept[m_rng.bounded(m_kept.size())] = p;
            }
            const QString card = QString::number(1000 + m_rng.bounded(50));
            const QVariantList values{"01001", "01005", 69, 102, card, p.date, p.time, p.date + '-' + p.time, 1,
                                      p.car, p.toll.chopped(1).toInt(), "円", card, p.date, p.time, p.toll, p.car,
                                      p.in, p.out};
            for (int k = 0; k < values.size(); ++k)
                q.bindValue(k, values[k]);
            if (!q.exec())
                qFatal("insert failed");
        }
        db.commit();
    }

private:
    QRandomGenerator m_rng{20240501};
    QList<Passage> m_kept;
    qint64 m_serial = 0;
};

QStringList rowsOf(QSqlQuery &q)
{
    QStringList rows;
    while (q.next()) {
        QString row;
        for (int c = 0; c < 8; ++c)
            row += q.value(c).toString() + QLatin1Char('|');
        rows << row;
    }
    return rows;
}

// Seconds the sqlite3 shell takes to run sql on file, its output discarded.
double shellSeconds(const QString &file, const QString &sql)
{
    QProcess shell;
    shell.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    shell.start("sqlite3", {file, sql});
    if (!shell.waitForFinished(600000) || shell.exitCode() != 0)
        qFatal("sqlite3 failed: %s", shell.readAllStandardError().constData());
    return t.nsecsElapsed() / 1e9;
}

// DB登録 of 100,000 staged rows into a history of 100,000 rows, against the
// shell copying the same staging in one INSERT … SELECT transaction on a
// copy of the same file.
void measureRegistration()
{
    constexpr int kStaged = 100000;
    QTemporaryDir dir;
    openBenchHistory(dir);
    Filler filler;
    filler.fill(kStaged);
    {
        QSqlQuery q(history::database(DbConnection::History));
        if (!q.exec("INSERT INTO ETC_TEMP SELECT ITC_IN,ITC_IN_ROAD,ITC_IN_GATE,JID_IN,JID_IN_NAME,ITC_OUT,ITC_OUT_ROAD,"
                    "ITC_OUT_GATE,JID_OUT,JID_OUT_NAME,REG_DATE,REG_TIME,'0000',PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,"
                    "CAR_NAME,PASS_MONEY,PASS_UNIT,0,'0000',ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 "
                    "FROM ETC_DATA"))
            qFatal("staging failed");
    }
    history::closeDatabase(kDatFile);
    const QString file = history::databasePath(kDatFile);
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath("ETC_DAT.sqlite");
    if (!QFile::copy(file, copy))
        qFatal("copy failed");
    history::openDatabase(kDatFile);
    QElapsedTimer t;
    t.start();
    const qint64 registered = history::registerStaged("1234");
    const double ours = t.nsecsElapsed() / 1e9;
    history::closeDatabase(kDatFile);
    if (registered != kStaged)
        qFatal("registered %lld of %d", static_cast<long long>(registered), kStaged);
    const QString columns = "ITC_IN,ITC_IN_ROAD,ITC_IN_GATE,JID_IN,JID_IN_NAME,ITC_OUT,ITC_OUT_ROAD,ITC_OUT_GATE,"
                            "JID_OUT,JID_OUT_NAME,REG_DATE,REG_TIME,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,"
                            "CAR_NAME,PASS_MONEY,PASS_UNIT,PRINT_FLAG,カードNO,ご利用日,通過時間,通行料金,車種,"
                            "入口料金所,出口料金所";
    QString staged = columns;
    staged.replace("CARD_ID", "'1234'").replace("カードNO", "'1234'");
    const double shell = shellSeconds(copy, "PRAGMA journal_mode=WAL; BEGIN IMMEDIATE; INSERT INTO ETC_DATA (" +
                                                columns + ",ROW_UID) SELECT " + staged +
                                                ",lower(hex(randomblob(16))) FROM ETC_TEMP ORDER BY rowid; COMMIT;");
    print("register_100k_s", ours);
    print("register_sqlite3_s", shell);
    print("register_ratio", QString::number(ours / shell, 'f', 2));
}

// CSV取込 of the whole history's export into an empty history: the check
// and the write, as the command line runs them.
void measureImport()
{
    QTemporaryDir fileDir;
    const QString csv = fileDir.filePath("history.csv");
    testView = {};
    testView.viewType = 2;
    testView.cardNo = "0000";
    if (!reports::writeCsvFile(csv, reports::CsvCreate, testView, QString()))
        qFatal("export failed");
    history::closeDatabase(kDatFile);

    QTemporaryDir dir;
    openBenchHistory(dir);
    // The command line: one reading, every line checked inside the transaction.
    QElapsedTimer t;
    t.start();
    reports::CsvImport import({csv});
    const qint64 added = import.write();
    const double ours = t.nsecsElapsed() / 1e9;
    print("import_1m_s", ours);
    print("import_added", QString::number(added));
    // The window reads the files once more before, for what it shows.
    t.restart();
    reports::CsvImport again({csv});
    if (!again.check() || again.summary().present != added)
        qFatal("the check of the same file found other records");
    print("import_check_1m_s", t.nsecsElapsed() / 1e9);
    history::closeDatabase(kDatFile);
    if (added != import.summary().lines)
        qFatal("imported %lld of %lld lines", static_cast<long long>(added),
               static_cast<long long>(import.summary().lines));

    QStringList columns;
    for (int i = 1; i <= 17; ++i)
        columns << "c" + QString::number(i);
    QProcess shell;
    shell.setStandardOutputFile(QProcess::nullDevice());
    t.restart();
    shell.start("sqlite3", {fileDir.filePath("plain.sqlite")});
    shell.write(("CREATE TABLE plain (" + columns.join(',') + ");\n.mode csv\n.import " + csv + " plain\n").toUtf8());
    shell.closeWriteChannel();
    if (!shell.waitForFinished(600000) || shell.exitCode() != 0)
        qFatal("sqlite3 failed: %s", shell.readAllStandardError().constData());
    const double plain = t.nsecsElapsed() / 1e9;
    print("import_sqlite3_s", plain);
    print("import_ratio", QString::number(ours / plain, 'f', 2));
}

// DB削除 of the whole 1,000,000-row history, its rows kept for undo, with
// 中止 once in the middle first (the stop must answer within a second and
// change nothing), against the shell running the same DELETE on a copy of
// the same file (delete_1m_ratio).
void measureDeletion()
{
    const QString file = history::databasePath(kDatFile);
    history::closeDatabase(kDatFile);
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath("ETC_DAT.sqlite");
    if (!QFile::copy(file, copy))
        qFatal("copy failed");
    history::openDatabase(kDatFile);
    const auto showAll = [] {
        testView = {};
        testView.viewType = 2;
        testView.cardNo = "0000";
        history::rememberShown({});
    };
    const auto rows = [] {
        QSqlQuery q(history::database(DbConnection::History));
        q.exec("SELECT COUNT(*) FROM ETC_DATA");
        return q.next() ? q.value(0).toLongLong() : -1;
    };
    const auto keptRows = [] {
        QSqlQuery q(history::database(DbConnection::History));
        q.exec("SELECT COUNT(*) FROM ETC_DELETED");
        return q.next() ? q.value(0).toLongLong() : -1;
    };
    const qint64 before = rows();
    const qint64 keptBefore = keptRows();
    showAll();
    const QString statement = history::shownViewSql(testView, kTableData, "DELETE");
    // 中止 half a second in.
    QElapsedTimer t;
    t.start();
    qint64 stoppedAt = 0;
    const bool stopped = app::expectedFailureOf([&] {
                             history::deleteShown(app::Procedure::DeleteShownRows, statement, [&] {
                                 if (t.elapsed() < 500)
                                     return true;
                                 if (!stoppedAt)
                                     stoppedAt = t.elapsed();
                                 return false;
                             });
                         }) == QStringLiteral(" ");
    const double stopAnswer = (t.elapsed() - stoppedAt) / 1000.0;
    if (!stopped || rows() != before || keptRows() != keptBefore) {
        std::fprintf(stderr, "the stopped deletion changed the history\n");
        g_deleteOk = false;
    }
    print("delete_stop_answer_s", stopAnswer);
    showAll();
    t.restart();
    const qint64 deleted = history::deleteShown(app::Procedure::DeleteShownRows, statement, [] { return true; });
    const double ours = t.nsecsElapsed() / 1e9;
    if (deleted != before || rows() != 0 || keptRows() != keptBefore + before) {
        std::fprintf(stderr, "the deletion removed or kept other rows than it should\n");
        g_deleteOk = false;
    }
    const double shell = shellSeconds(copy, "PRAGMA journal_mode=WAL; " + history::sqliteText(statement));
    print("delete_1m_s", ours);
    print("delete_sqlite3_s", shell);
    print("delete_1m_ratio", QString::number(ours / shell, 'f', 2));
}

void measureSize(qint64 rows)
{
    const QString n = QString::number(rows);
    testView = {};
    const ViewSelection allCards; // typed entry, nothing typed, all records

    QElapsedTimer t;
    t.start();
    history::HistoryGridModel model;
    const history::GridLoad load = history::loadGrid(model, history::viewStatement(kTableData, (testView = history::viewQuery(2, allCards))), 2);
    print("read_and_grid_load_seconds_" + n, t.elapsed() / 1000.0);
    print("grid_rows_" + n, QString::number(model.rowCount()));

    // 月別集計 of that view: its one grouped statement, as the window opens.
    t.restart();
    const QList<MonthTotal> months = history::monthlyTotals(history::shownViewSql(testView, kTableData, "SELECT"));
    print("monthly_totals_open_seconds_" + n, t.nsecsElapsed() / 1e9);
    qint64 counted = 0, sum = 0;
    for (const MonthTotal &m : months) {
        counted += m.count;
        sum += m.sum;
    }
    print("monthly_totals_lines_" + n, QString::number(months.size()));
    if (counted != load.totals.count || sum != load.totals.sum)
        qFatal("the monthly totals give %lld rows and %lld yen, the grid %lld and %lld", static_cast<long long>(counted),
               static_cast<long long>(sum), static_cast<long long>(load.totals.count),
               static_cast<long long>(load.totals.sum));
    // The same for one quarter of all cards (the date/time range of the view).
    ViewSelection quarter;
    quarter.SelectMode = 1;
    quarter.Range = {QDate(2016, 4, 1), QTime(0, 0), QDate(2016, 6, 30), QTime(23, 59, 59)};
    history::viewStatement(kTableData, (testView = history::viewQuery(2, quarter)));
    t.restart();
    history::monthlyTotals(history::shownViewSql(testView, kTableData, "SELECT"));
    print("monthly_totals_quarter_open_seconds_" + n, t.nsecsElapsed() / 1e9);
    history::viewStatement(kTableData, (testView = history::viewQuery(2, allCards)));

    t.restart();
    QSqlQuery q = history::execute(DbConnection::History, history::duplicatesSql(testView, "0000", "SELECT"));
    qint64 duplicates = 0;
    while (q.next())
        ++duplicates;
    q.finish();
    print("duplicate_select_seconds_" + n, t.elapsed() / 1000.0);
    print("duplicate_rows_" + n, QString::number(duplicates));

    // The duplicate display as the window runs it: the grid load of the statement.
    t.restart();
    history::HistoryGridModel duplicateGrid;
    history::loadGrid(duplicateGrid, history::duplicatesSql(testView, "0000", "SELECT"), 2);
    const double display = t.nsecsElapsed() / 1e9;
    print("duplicate_display_seconds_" + n, display);
    if (rows == 1000000) {
        // The shell: one GROUP BY of the six columns (answered from their index).
        const double shell = shellSeconds(history::databasePath(kDatFile),
                                          "SELECT ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,COUNT(*) "
                                          "FROM ETC_DATA GROUP BY ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 "
                                          "HAVING COUNT(*)>1;");
        print("duplicate_display_sqlite3_s", shell);
        print("duplicate_display_ratio", QString::number(display / shell, 'f', 2));
    }

    // The duplicate deletion for one card. Expected: that card's duplicate
    // rows less one for each passage whose every copy is that card's; no
    // passage may disappear.
    const QString card = "1007";
    const QString groups = "SELECT count(*) AS copies, sum(カードNO='" + card +
                           "') AS mine FROM ETC_DATA GROUP BY ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所";
    auto scalar = [](const QString &sql) {
        QSqlQuery q = history::execute(DbConnection::History, sql);
        q.next();
        return q.value(0).toLongLong();
    };
    const qint64 expected = scalar("SELECT coalesce(sum(mine),0) - coalesce(sum(mine=copies),0) FROM (" + groups +
                                   ") WHERE copies>1");
    const qint64 passages = scalar("SELECT count(*) FROM (" + groups + ")");
    t.restart();
    const int deleted = history::deleteDuplicates(testView, card);
    print("duplicate_delete_seconds_" + n, t.elapsed() / 1000.0);
    print("duplicate_delete_rows_" + n, QString::number(deleted));
    if (deleted != expected || scalar("SELECT count(*) FROM (" + groups + ")") != passages) {
        print("duplicate_delete_expected_rows_" + n, QString::number(expected));
        g_deleteOk = false;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    openBenchHistory(dir);
    if (app.arguments().value(1) == "import") { // the import alone
        const qint64 rows = app.arguments().value(2, "1000000").toLongLong();
        Filler filler;
        filler.fill(rows);
        measureImport();
        return 0;
    }

    // 4,000 rows: the correlated form as written against the grouped form.
    Filler small;
    small.fill(4000);
    testView = {};
    const QString jet = history::duplicatesSql(testView, "0000", "SELECT");
    QElapsedTimer t;
    t.start();
    QSqlQuery literal(history::database(DbConnection::History));
    literal.setForwardOnly(true);
    if (!literal.exec(jet))
        qFatal("the literal form was refused");
    const QStringList literalRows = rowsOf(literal);
    literal.finish();
    const double literalSeconds = t.elapsed() / 1000.0;
    t.restart();
    QSqlQuery grouped = history::execute(DbConnection::History, jet);
    const QStringList groupedRows = rowsOf(grouped);
    grouped.finish();
    const double groupedSeconds = qMax(t.nsecsElapsed() / 1e9, 1e-6);
    const bool same = literalRows == groupedRows && !groupedRows.isEmpty();
    QSqlQuery(history::database(DbConnection::History)).exec("DELETE FROM ETC_DATA");

    // 100,000 rows, then 900,000 more.
    Filler big;
    for (const qint64 size : {qint64(100000), qint64(1000000)}) {
        t.restart();
        big.fill(size == 100000 ? size : size - 100000);
        print("fill_seconds_" + QString::number(size), t.elapsed() / 1000.0);
        measureSize(size);
    }
    measureImport();
    openBenchHistory(dir);
    measureDeletion();

    history::closeDatabase(kDatFile);
    measureRegistration();

    print("literal_seconds_4000", literalSeconds);
    print("grouped_seconds_4000", QString::number(groupedSeconds, 'f', 6));
    print("duplicate_rows_4000", QString::number(groupedRows.size()));
    print("same_rows_4000", same ? "yes" : "no");
    print("ratio", QString::number(literalSeconds / groupedSeconds, 'f', 1));
    return same && g_deleteOk ? 0 : 1;
}
