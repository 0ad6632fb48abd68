// Large-history benchmark: "DB読込" of one card with 1,000,000 registered
// rows. Prints the time until the grid and its labels are ready, the time of
// one page when scrolling (in order, and jumps to the end and the middle),
// and the process's peak memory; the same on a PostgreSQL store when one can
// be started (PASSLOG_PG_* from scripts/pg-cluster.sh, or a private cluster
// started here), else "postgres: skipped" with the reason.
//
// Last line: the SQLite grid open time over the time of the sqlite3 shell
// writing the same rows to a file. Exits 1 when the grid's rows or labels
// differ from the shell's.

#include "BenchSupport.h"
#include "app/ProfileFile.h"
#include "app/Seams.h"
#include "app/Settings.h"
#include "app/Constants.h"
#include "history/HistoryGridModel.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "history/GridLoad.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {

QTextStream out(stdout);
constexpr qint64 kRows = 1000000;
const QString kCard = QStringLiteral("1234");

void print(const QString &name, const QString &value) { out << name << ": " << value << Qt::endl; }
void print(const QString &name, double seconds) { print(name, QString::number(seconds, 'f', 4)); }

// Peak resident memory of this process in bytes (Linux), 0 elsewhere.
qint64 peakMemory()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// kRows rows of one card plus 1,000 of another, in one statement:
// distinct passages 97 seconds apart, a few hundred tolls, four classes,
// eight gates; every twentieth toll undetermined.
void fill()
{
    QSqlQuery q(history::database(DbConnection::History));
    const QString sql = QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<@LAST), "
        "t(i,card,d,tm,money) AS (SELECT i, CASE WHEN i<@ROWS THEN '@CARD' ELSE '5678' END, "
        "strftime('%Y/%m/%d', 1420070400 + i*97, 'unixepoch'), strftime('%H:%M:%S', 1420070400 + i*97, 'unixepoch'), "
        "100*(1+(i*7919)%40) FROM n) "
        "INSERT INTO ETC_DATA (ITC_IN,ITC_OUT,JID_IN,JID_OUT,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,CAR_NAME,"
        "PASS_MONEY,PASS_UNIT,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) "
        "SELECT '01001','01005',69,102,card,d,tm,d||'-'||tm,1,'普通車',money,'円',card,d,tm,"
        "CASE WHEN i%20=19 THEN '未確定' ELSE money||'円' END,"
        "CASE i%4 WHEN 0 THEN '普通車' WHEN 1 THEN '中型車' WHEN 2 THEN '大型車' ELSE '軽自動車等' END,"
        "CASE i%8 WHEN 0 THEN '東名高速道路 東京' WHEN 1 THEN '東名高速道路 厚木' WHEN 2 THEN '中央自動車道 八王子' "
        "WHEN 3 THEN '関越自動車道 練馬' WHEN 4 THEN '名神高速道路 吹田' WHEN 5 THEN '東北自動車道 浦和' "
        "WHEN 6 THEN '首都高速道路 本線' ELSE '常磐自動車道 三郷' END,"
        "CASE (i/8)%3 WHEN 0 THEN '東名高速道路 厚木' WHEN 1 THEN '中央自動車道 八王子' ELSE '関越自動車道 練馬' END FROM t");
    QString text = sql;
    text.replace("@LAST", QString::number(kRows + 999)).replace("@ROWS", QString::number(kRows)).replace("@CARD", kCard);
    if (!q.exec(text))
        qFatal("fill failed");
}

// The same rows on the server, made there in one statement.
void fillServer()
{
    QSqlQuery q(history::database(DbConnection::Server));
    const QString sql = QStringLiteral(
        "INSERT INTO ETC_DATA (ITC_IN,ITC_OUT,JID_IN,JID_OUT,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,CAR_NAME,"
        "PASS_MONEY,PASS_UNIT,\"カードNO\",\"ご利用日\",\"通過時間\",\"通行料金\",\"車種\",\"入口料金所\",\"出口料金所\") "
        "SELECT '01001','01005',69,102,card,d,tm,d||'-'||tm,1,'普通車',money,'円',card,d,tm,"
        "CASE WHEN i%20=19 THEN '未確定' ELSE money||'円' END,"
        "CASE i%4 WHEN 0 THEN '普通車' WHEN 1 THEN '中型車' WHEN 2 THEN '大型車' ELSE '軽自動車等' END,"
        "CASE i%8 WHEN 0 THEN '東名高速道路 東京' WHEN 1 THEN '東名高速道路 厚木' WHEN 2 THEN '中央自動車道 八王子' "
        "WHEN 3 THEN '関越自動車道 練馬' WHEN 4 THEN '名神高速道路 吹田' WHEN 5 THEN '東北自動車道 浦和' "
        "WHEN 6 THEN '首都高速道路 本線' ELSE '常磐自動車道 三郷' END,"
        "CASE (i/8)%3 WHEN 0 THEN '東名高速道路 厚木' WHEN 1 THEN '中央自動車道 八王子' ELSE '関越自動車道 練馬' END "
        "FROM (SELECT i, CASE WHEN i<@ROWS THEN '@CARD' ELSE '5678' END AS card, "
        "to_char(to_timestamp(1420070400 + i*97) AT TIME ZONE 'UTC', 'YYYY/MM/DD') AS d, "
        "to_char(to_timestamp(1420070400 + i*97) AT TIME ZONE 'UTC', 'HH24:MI:SS') AS tm, "
        "100*(1+(i*7919)%40) AS money FROM generate_series(CAST(0 AS BIGINT), @LAST) AS i) AS s");
    QString text = sql;
    text.replace("@LAST", QString::number(kRows + 999)).replace("@ROWS", QString::number(kRows)).replace("@CARD", kCard);
    if (!q.exec(text) || !q.exec(QStringLiteral("ANALYZE ETC_DATA")))
        qFatal("server fill failed: %s", qPrintable(q.lastError().text()));
}

void dropServerTable()
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bench_admin"));
        db.setHostName(qEnvironmentVariable("PASSLOG_PG_HOST"));
        db.setPort(qEnvironmentVariableIntValue("PASSLOG_PG_PORT"));
        db.setDatabaseName(qEnvironmentVariable("PASSLOG_PG_NAME"));
        db.setUserName(qEnvironmentVariable("PASSLOG_PG_USER"));
        if (db.open())
            QSqlQuery(db).exec(QStringLiteral("SET client_min_messages = warning; DROP TABLE IF EXISTS ETC_DATA"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_admin"));
}

struct StoreFigures {
    double open = 0, pageMean = 0, pageMax = 0, jumpEnd = 0, jumpMiddle = 0;
    qint64 count = 0, sum = 0;
    QStringList firstRow, lastRow;
};

QStringList rowOf(const history::HistoryGridModel &m, int row)
{
    QStringList cells;
    for (int c = 0; c < m.columnCount(); ++c)
        cells << m.cell(row, c);
    return cells;
}

StoreFigures measureGrid(const QString &name)
{
    StoreFigures f;
    testView = {};
    ViewSelection card;
    card.CardNoMode = 0;
    card.TypedCardNo = kCard;
    const QString sql = history::viewStatement(kTableData, (testView = history::viewQuery(2, card)));

    history::HistoryGridModel model;
    QElapsedTimer t;
    t.start();
    const history::GridLoad load = history::loadGrid(model, sql, 2);
    f.firstRow = rowOf(model, 0); // what the window shows at once
    f.open = t.nsecsElapsed() / 1e9;
    f.count = load.totals.count;
    f.sum = load.totals.sum;

    // Scrolling down page by page.
    double total = 0;
    const int pages = 200;
    for (int p = 1; p <= pages; ++p) {
        t.restart();
        model.cell(p * history::HistoryGridModel::kPageRows, 0);
        const double s = t.nsecsElapsed() / 1e9;
        total += s;
        f.pageMax = qMax(f.pageMax, s);
    }
    f.pageMean = total / pages;
    // The scroll bar dragged to the end, then one page up from there.
    t.restart();
    f.lastRow = rowOf(model, model.rowCount() - 1);
    model.cell(model.rowCount() - 1 - history::HistoryGridModel::kPageRows, 0);
    f.jumpEnd = t.nsecsElapsed() / 1e9;
    // And to the middle, which first steps over the keys in between.
    t.restart();
    model.cell(model.rowCount() / 2, 0);
    f.jumpMiddle = t.nsecsElapsed() / 1e9;

    print(name + "_grid_open_seconds", f.open);
    print(name + "_page_fetch_mean_seconds", f.pageMean);
    print(name + "_page_fetch_max_seconds", f.pageMax);
    print(name + "_jump_to_end_seconds", f.jumpEnd);
    print(name + "_jump_to_middle_seconds", f.jumpMiddle);
    print(name + "_grid_rows", QString::number(model.rowCount()));
    print(name + "_labels", app::recordCountText(f.count) + QLatin1Char(' ') + app::tollSumText(f.sum));
    print(name + "_peak_memory_bytes", QString::number(peakMemory()));
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("PASSLOG_BENCH_KEEP"));
    openBenchHistory(dir);
    QElapsedTimer t;
    t.start();
    fill();
    print("fill_seconds", t.elapsed() / 1000.0);
    history::closeDatabase(kDatFile);
    history::openDatabase(kDatFile);
    print("peak_memory_before_grid_bytes", QString::number(peakMemory()));

    const StoreFigures lite = measureGrid("sqlite");

    // The sqlite3 shell writing the rows of the same statement to a file.
    testView = {};
    ViewSelection card;
    card.TypedCardNo = kCard;
    const QString shellSql = history::sqliteText(history::viewStatement(kTableData, (testView = history::viewQuery(2, card))));
    history::closeDatabase(kDatFile);
    QProcess shell;
    shell.setStandardOutputFile(dir.filePath("rows.txt"));
    t.restart();
    shell.start(QStringLiteral("sqlite3"), {history::databasePath(kDatFile), shellSql});
    if (!shell.waitForFinished(600000) || shell.exitCode() != 0) {
        std::fprintf(stderr, "sqlite3 failed: %s\n", shell.readAllStandardError().constData());
        return 1;
    }
    const double shellSeconds = t.nsecsElapsed() / 1e9;
    print("sqlite3_select_to_file_seconds", shellSeconds);

    // Counted line by line: only the first and the last are kept.
    QFile rows(dir.filePath("rows.txt"));
    rows.open(QIODevice::ReadOnly);
    qint64 shellRows = 0;
    QByteArray firstLine, lastLine;
    while (!rows.atEnd()) {
        lastLine = rows.readLine().chopped(1);
        if (shellRows++ == 0)
            firstLine = lastLine;
    }
    rows.close();
    auto shown = [](const QByteArray &line) {
        QStringList cells = QString::fromUtf8(line).split(QLatin1Char('|'));
        cells.removeLast(); // DATE_TIME
        return cells;
    };
    const bool same = shellRows == lite.count && lite.count == kRows && shown(firstLine) == lite.firstRow &&
                      shown(lastLine) == lite.lastRow;
    print("same_rows", same ? "yes" : "no");

    // The shared history on a PostgreSQL server.
    QString startedData;
    const QString reason = startCluster(startedData);
    if (!reason.isEmpty()) {
        print("postgres", "skipped (" + reason + ")");
    } else {
        const QString ini = app::settingsFileName();
        app::writeProfileString("DATABASE", "Driver", "PSQL", ini);
        app::writeProfileString("DATABASE", "Host", qEnvironmentVariable("PASSLOG_PG_HOST"), ini);
        app::writeProfileString("DATABASE", "Port", qEnvironmentVariable("PASSLOG_PG_PORT"), ini);
        app::writeProfileString("DATABASE", "Name", qEnvironmentVariable("PASSLOG_PG_NAME"), ini);
        app::writeProfileString("DATABASE", "User", qEnvironmentVariable("PASSLOG_PG_USER"), ini);
        dropServerTable();
        history::initServer(); // passlog server init
        history::closeDatabase(kDatFile);
        history::openDatabase(kDatFile);
        t.restart();
        fillServer();
        print("postgres_fill_seconds", t.elapsed() / 1000.0);
        const StoreFigures pg = measureGrid("postgres");
        history::closeDatabase(kDatFile);
        const bool pgSame = pg.count == lite.count && pg.sum == lite.sum && pg.firstRow == lite.firstRow &&
                            pg.lastRow == lite.lastRow;
        print("postgres_same_rows", pgSame ? "yes" : "no");
        dropServerTable();
        stopCluster(startedData);
        if (!pgSame)
            return 1;
    }
    print("ratio", QString::number(lite.open / shellSeconds, 'f', 3));
    return same ? 0 : 1;
}
