// Shared-history bulk benchmark: the program's own command line (build/passlog
// run as a child from a program folder of its own, its settings naming a
// private PostgreSQL cluster) against PostgreSQL's and SQLite's own tools,
// on N rows (1,000,000 unless --rows N):
//   server_import   passlog import csv F.csv into an empty ETC_DATA, against
//                   psql \copy of the same stored rows into a fresh table of the
//                   same columns without indexes, then the 10 indexes of
//                   data/schema_history_server.sql built after it
//   server_export   passlog export csv of the whole server history, against
//                   psql \copy of a SELECT forming the same lines | sed (the
//                   CR of each line end: COPY escapes one in a value) | iconv
//                   to code page 932 (the two files must be identical)
//   server_totals   passlog export totals, against psql running the same
//                   GROUP BY into a file (identical as well)
//   server_copy     passlog --copy-history-to-server of an N-row history file
//                   into the empty indexed ETC_DATA, against psql \copy of
//                   the same rows (28 columns and ROW_UID) into it
//   server_delete_1m DB削除 of the whole server history (its rows kept in
//                   ETC_DELETED), in this process through the program's
//                   library, against psql running the same DELETE
//   import_10k_into_1m  passlog import csv of 10,000 new passages into a
//                   history file of N rows, against the same into one of
//                   10,000 rows (no server), each into the history its
//                   program folder keeps (as a month's import in an office);
//                   the peak memory is the child's maximum resident size as
//                   wait4() reports it
// F.csv comes from a generator of lines in the program's CSV format (code
// page 932): distinct passages 97 seconds apart over 50 cards, every 20th
// toll undetermined, a few texts with quotes and a few Null fields.
// The server: the cluster PASSLOG_PG_* name (scripts/pg-cluster.sh), or a
// private one started and stopped here; its ETC_DATA and ETC_DELETED go.
//
// Each pair runs alternately (ours, peer, ours, peer: --repeat K, 2 unless
// given; the totals at least 7 times); prints each side's best time in seconds and, last, the median of
// the per-pair ratios (ours/peer). Exits 1 only on wrong results: files that
// differ, row counts that are not the ones expected, a run that failed.

#include "app/RunSettings.h"
#include "BenchSupport.h"
#include "app/Cp932.h"
#include "app/ProfileFile.h"
#include "history/ShownRows.h"
#include "history/ViewCondition.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

extern char **environ;

namespace {

QTextStream out(stdout);
QString g_startedCluster; // the data folder of a cluster started here
QStringList g_ratios;     // "name: value" lines printed last
QTemporaryDir *g_root = nullptr; // the run's files, removed on failure as well
QString g_scratch;               // the children's output files

void print(const QString &name, const QString &value) { out << name << ": " << value << Qt::endl; }
void print(const QString &name, double seconds) { print(name, QString::number(seconds, 'f', 3)); }

// Where the run is, on the error stream.
void step(const QString &what) { std::fprintf(stderr, "-- %s\n", qPrintable(what)); }

[[noreturn]] void fail(const QString &what)
{
    out.flush();
    std::fprintf(stderr, "bench_server: %s\n", qPrintable(what));
    stopCluster(g_startedCluster);
    if (g_root && g_root->autoRemove())
        g_root->remove();
    std::exit(1);
}

struct Run {
    int status = -1;
    double seconds = 0;
    qint64 peakKib = 0; // the child's maximum resident size (wait4)
    QByteArray out, err;
};

// Runs program with args in folder, its output in files; timed from the
// spawn to wait4()'s return. Any exit status but 0 ends the benchmark.
Run mustRun(const QString &program, const QStringList &args, const QString &folder)
{
    const QByteArray outPath = QFile::encodeName(g_scratch + "/child.out"), errPath = QFile::encodeName(g_scratch + "/child.err");
    QList<QByteArray> words{QFile::encodeName(program)};
    for (const QString &a : args)
        words << a.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const QByteArray dir = QFile::encodeName(folder);
    posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
    Run r;
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        fail("cannot start " + program + ": " + QString::fromLocal8Bit(strerror(spawned)));
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        fail("wait4 failed for " + program);
    r.seconds = t.nsecsElapsed() / 1e9;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.peakKib = usage.ru_maxrss;
    QFile o(QString::fromLocal8Bit(outPath)), e(QString::fromLocal8Bit(errPath));
    if (o.open(QIODevice::ReadOnly))
        r.out = o.readAll();
    if (e.open(QIODevice::ReadOnly))
        r.err = e.readAll();
    if (r.status != 0)
        fail(program + ' ' + args.join(' ') + " failed (" + QString::number(r.status) + "): " +
             QString::fromLocal8Bit(r.err).trimmed());
    return r;
}

QStringList psqlArgs()
{
    return {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", qEnvironmentVariable("PASSLOG_PG_HOST"), "-p",
            qEnvironmentVariable("PASSLOG_PG_PORT"), "-U", qEnvironmentVariable("PASSLOG_PG_USER"), "-d",
            qEnvironmentVariable("PASSLOG_PG_NAME")};
}

// Runs each command in one psql session (in one transaction with -1 first).
Run psql(const QStringList &commands)
{
    QStringList args = psqlArgs();
    for (const QString &c : commands)
        args << "-c" << c;
    return mustRun("/usr/bin/psql", args, g_scratch);
}

qint64 serverCount(const QString &table = "ETC_DATA")
{
    return mustRun("/usr/bin/psql", psqlArgs() << "-At" << "-c" << "SELECT count(*) FROM " + table, g_scratch)
        .out.trimmed().toLongLong();
}

QString shellQuoted(QString s) { return '\'' + s.replace('\'', "'\\''") + '\''; }
// A file name in a psql \copy command.
QString psqlFile(QString s) { return '\'' + s.replace('\'', "''") + '\''; }

Run bash(const QString &script) { return mustRun("/bin/bash", {"-o", "pipefail", "-c", script}, g_scratch); }

QString psqlCommandLine(const QString &command)
{
    QStringList words{"psql"};
    for (const QString &a : psqlArgs())
        words << shellQuoted(a);
    return words.join(' ') + " -c " + shellQuoted(command);
}

// The CSV lines of passages from (inclusive) to to (exclusive), as CSV出力 writes them.
void writeCsv(const QString &path, qint64 from, qint64 to)
{
    static const QStringList cars{"普通車", "中型車", "大型車", "軽自動車等"};
    static const QStringList roads{"東名高速道路", "中央自動車道", "関越自動車道", "名神高速道路"};
    static const QStringList gates{"東京", "厚木", "八王子", "練馬", "吹田", "浦和", "本線", "三郷"};
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        fail("cannot write " + path);
    const QDateTime base(QDate(2015, 1, 1), QTime(0, 0, 0), Qt::UTC);
    const auto q = [](const QString &text) { return '"' + QString(text).replace('"', "\"\"") + '"'; };
    QString block;
    for (qint64 i = from; i < to; ++i) {
        const QDateTime t = base.addSecs(i * 97);
        const bool undetermined = i % 20 == 19;
        const int car = int(i % 4);
        const QString jidInName = i % 1000 == 7 ? QStringLiteral("臨時\"本線\"") : QStringLiteral("東京IC");
        const QString jidOutName = i % 7 == 3 ? QStringLiteral("#NULL#") : q(QStringLiteral("厚木IC"));
        QStringList fields{q(QString::number(1000 + i % 50)), q(t.toString("yyyy/MM/dd")), q(t.toString("HH:mm:ss")),
                           QString::number(car + 1), QString::number(undetermined ? 0 : 100 * (1 + (i * 7919) % 40)),
                           q(undetermined ? "未確定" : "円"), q(cars[car]), "69", q("01001"), "102", q("01005"),
                           q(jidInName), q(roads[i % 4]), q(gates[i % 8]), jidOutName, q(roads[(i / 8) % 4]),
                           q(gates[(i / 4) % 8])};
        block += fields.join(',') + "\r\n";
        if (block.size() > (1 << 20)) {
            f.write(cp932::encode(block));
            block.clear();
        }
    }
    f.write(cp932::encode(block));
}

// A program folder: the program, the masters, and the [DATABASE] section
// naming the cluster when server is set.
QString programFolder(const QString &root, const QString &name, bool server)
{
    const QString dir = root + '/' + name;
    QDir().mkpath(dir);
    if (!QFile::copy(PASSLOG_BINARY_DIR "/passlog", dir + "/passlog") ||
        !QFile::copy(PASSLOG_BINARY_DIR "/ETC_MST.sqlite", dir + "/ETC_MST.sqlite"))
        fail("cannot copy the program into " + dir + " (build the target passlog first)");
    if (server) {
        const QString ini = dir + "/passlog.ini";
        app::writeProfileString("DATABASE", "Driver", "PSQL", ini);
        for (const char *key : {"Host", "Port", "Name", "User"})
            app::writeProfileString("DATABASE", key,
                                    qEnvironmentVariable(("PASSLOG_PG_" + QByteArray(key).toUpper()).constData()), ini);
    }
    return dir;
}

// The history file (and its companions) of one folder put in place of
// another's, with their modification times: the clean-end marker still
// matches, as it does for the user's own file, so that no run spends its
// time on the full check a foreign file gets.
void copyHistory(const QString &from, const QString &to)
{
    namespace fs = std::filesystem;
    for (const QString &name : QDir(to).entryList({"ETC_DAT.*"}, QDir::Files))
        QFile::remove(to + '/' + name);
    for (const QString &name : QDir(from).entryList({"ETC_DAT.*"}, QDir::Files)) {
        const fs::path source = (from + '/' + name).toStdString(), target = (to + '/' + name).toStdString();
        std::error_code error;
        if (!fs::copy_file(source, target, error) || (fs::last_write_time(target, fs::last_write_time(source), error), error))
            fail("cannot copy " + from + '/' + name + ": " + QString::fromStdString(error.message()));
    }
}

// The number in "<n>件の…" on the child's standard output.
qint64 reportedCount(const Run &r)
{
    static const QRegularExpression n(QStringLiteral("^([\\d,]+)件の利用履歴を(取り込みました|サーバーにコピーしました)。$"),
                                      QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = n.match(QString::fromLocal8Bit(r.out));
    return m.hasMatch() ? m.captured(1).remove(',').toLongLong() : -1;
}

void expectCount(const QString &what, qint64 found, qint64 expected)
{
    if (found != expected)
        fail(what + ": " + QString::number(found) + " rows, expected " + QString::number(expected));
}

bool sameFiles(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    return true;
}

struct Pair {
    QList<double> ours, peer;
    double best(const QList<double> &s) const { return *std::min_element(s.begin(), s.end()); }
    double medianRatio() const
    {
        QList<double> r;
        for (qsizetype i = 0; i < ours.size(); ++i)
            r << ours[i] / peer[i];
        std::sort(r.begin(), r.end());
        const qsizetype m = r.size() / 2;
        return r.size() % 2 ? r[m] : (r[m - 1] + r[m]) / 2;
    }
    // Prints the best times now and keeps the ratio for the end.
    void report(const QString &name) const
    {
        print(name + "_s", best(ours));
        print(name + "_peer_s", best(peer));
        g_ratios << name + "_ratio: " + QString::number(medianRatio(), 'f', 3);
    }
};

const QString kColumns28 = QStringLiteral(
    "ITC_IN,ITC_IN_ROAD,ITC_IN_GATE,JID_IN,JID_IN_NAME,ITC_OUT,ITC_OUT_ROAD,ITC_OUT_GATE,JID_OUT,JID_OUT_NAME,"
    "REG_DATE,REG_TIME,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,CAR_NAME,PASS_MONEY,PASS_UNIT,PRINT_FLAG,"
    "\"カードNO\",\"ご利用日\",\"通過時間\",\"通行料金\",\"車種\",\"入口料金所\",\"出口料金所\"");

// The indexes the server's schema gives ETC_DATA, for another table: its
// primary key and every CREATE INDEX of data/schema_history_server.sql.
QStringList indexesFor(const QString &table)
{
    QFile f(PASSLOG_SOURCE_DIR "/data/schema_history_server.sql");
    if (!f.open(QIODevice::ReadOnly))
        fail("cannot read data/schema_history_server.sql");
    static const QRegularExpression index(
        QStringLiteral("CREATE (UNIQUE )?INDEX IF NOT EXISTS ETC_DATA(\\w*)\\s+ON (?:public\\.)?ETC_DATA\\b([^;]*);"));
    QStringList statements{"ALTER TABLE " + table + " ADD PRIMARY KEY (ROW_ID)"};
    for (auto it = index.globalMatch(QString::fromUtf8(f.readAll())); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        statements << "CREATE " + m.captured(1) + "INDEX " + table + m.captured(2) + " ON " + table +
                          QString(m.captured(3)).simplified();
    }
    if (statements.size() != 11)
        fail("expected 11 indexes of ETC_DATA in data/schema_history_server.sql, found " +
             QString::number(statements.size()));
    return statements;
}

// One CSV field in SQL: a text quoted with its quotes doubled, a number bare, Null as #NULL#.
QString textField(const QString &column) { return "COALESCE('\"'||REPLACE(" + column + ",'\"','\"\"')||'\"','#NULL#')"; }
QString numberField(const QString &column) { return "COALESCE(CAST(" + column + " AS TEXT),'#NULL#')"; }

// The lines of passlog export csv (all cards, newest first), formed by the server.
QString exportSelect()
{
    QStringList f{textField("\"カードNO\""), textField("PASS_DATE"), textField("PASS_TIME"), numberField("CAR_CODE"),
                  numberField("PASS_MONEY"), textField("PASS_UNIT"), textField("CAR_NAME"), numberField("JID_IN"),
                  textField("ITC_IN"), numberField("JID_OUT"), textField("ITC_OUT"), textField("JID_IN_NAME"),
                  textField("ITC_IN_ROAD"), textField("ITC_IN_GATE"), textField("JID_OUT_NAME"),
                  textField("ITC_OUT_ROAD"), textField("ITC_OUT_GATE")};
    return "SELECT " + f.join("||','||") +
           " FROM ETC_DATA ORDER BY \"カードNO\" ASC NULLS FIRST,\"ご利用日\" DESC NULLS LAST,"
           "\"通過時間\" DESC NULLS LAST,\"入口料金所\" ASC NULLS FIRST,\"出口料金所\" ASC NULLS FIRST,ROW_ID";
}

// The lines of passlog export totals: rows, yen sum and rows not in yen per
// card and month, counted per toll text first.
QString totalsSelect()
{
    const QString body = "SUBSTR(toll,1,LENGTH(toll)-1)";
    const QString digits = "(CASE WHEN SUBSTR(" + body + ",1,1) IN ('-','+') THEN SUBSTR(" + body + ",2) ELSE " + body + " END)";
    const QString yen = "CASE WHEN toll LIKE '%円' AND LENGTH(" + digits + ") BETWEEN 1 AND 10 AND LTRIM(" + digits +
                        ",'0123456789')='' THEN n*CAST(" + body + " AS BIGINT) ELSE 0 END";
    return "SELECT '\"'||REPLACE(COALESCE(card,''),'\"','\"\"')||'\",\"'||ym||'\",'||SUM(n)||','||SUM(" + yen +
           ")||','||SUM(CASE WHEN toll LIKE '%円' THEN 0 ELSE n END) FROM (SELECT \"カードNO\" AS card,"
           "SUBSTR(DATE_TIME,1,7) AS ym,\"通行料金\" AS toll,COUNT(*) AS n FROM ETC_DATA GROUP BY 1,2,3) AS t "
           "GROUP BY card,ym ORDER BY card,ym";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qint64 rows = 1000000;
    int repeat = 2;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        bool ok = i + 1 < args.size();
        if (args[i] == "--rows" && ok)
            rows = args[++i].toLongLong(&ok);
        else if (args[i] == "--repeat" && ok)
            repeat = args[++i].toInt(&ok);
        else
            ok = false;
        if (!ok || rows < 1 || repeat < 1) {
            std::fprintf(stderr, "usage: bench_server [--rows N] [--repeat K]\n");
            return 2;
        }
    }
    constexpr qint64 kSmall = 10000;
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("QT_QPA_PLATFORM");
    QTemporaryDir root;
    root.setAutoRemove(qEnvironmentVariableIsEmpty("PASSLOG_BENCH_KEEP"));
    g_root = &root;
    g_scratch = root.path();
    const QString data = root.filePath("F.csv"), oldLines = root.filePath("old10k.csv");
    step("writing the CSV files");
    writeCsv(data, 0, rows);
    writeCsv(oldLines, 0, kSmall);
    print("rows", QString::number(rows));

    // The history files: N rows and 10,000 rows, each brought in by the program.
    step("the history files");
    const QString big = programFolder(root.path(), "big", false), small = programFolder(root.path(), "small", false);
    expectCount("the N-row history file", reportedCount(mustRun(big + "/passlog", {"import", "csv", data}, big)), rows);
    expectCount("the 10,000-row history file",
                reportedCount(mustRun(small + "/passlog", {"import", "csv", oldLines}, small)), kSmall);

    const QString reason = startCluster(g_startedCluster);
    if (!reason.isEmpty()) {
        print("postgres", "skipped (" + reason + ")");
    } else {
        const QString prog = programFolder(root.path(), "server", true);
        const QString passlog = prog + "/passlog";
        psql({"SET client_min_messages = warning", "DROP TABLE IF EXISTS ETC_DATA", "DROP TABLE IF EXISTS PEER_DATA"});
        mustRun(passlog, {"server", "init"}, prog);

        // 1. CSV取込 into the empty server history.
        step("server import");
        const QString peerRows = root.filePath("peer_import.txt");
        const QStringList peerIndexes = indexesFor("PEER_DATA");
        Pair import;
        for (int k = 0; k < repeat; ++k) {
            psql({"TRUNCATE ETC_DATA"});
            const Run ours = mustRun(passlog, {"import", "csv", data}, prog);
            expectCount("server import (reported)", reportedCount(ours), rows);
            expectCount("server import", serverCount(), rows);
            import.ours << ours.seconds;
            if (k == 0)
                psql({"\\copy (SELECT " + kColumns28 + ",SOURCE_PC,SOURCE_ROW,ROW_UID FROM ETC_DATA ORDER BY ROW_ID) TO " +
                      psqlFile(peerRows)});
            psql({"DROP TABLE IF EXISTS PEER_DATA"});
            QStringList commands{"CREATE TABLE PEER_DATA (LIKE ETC_DATA INCLUDING DEFAULTS INCLUDING IDENTITY)",
                                 "\\copy PEER_DATA (" + kColumns28 + ",SOURCE_PC,SOURCE_ROW,ROW_UID) FROM " +
                                     psqlFile(peerRows)};
            QStringList peerArgs = psqlArgs() << "-1";
            for (const QString &c : commands + peerIndexes)
                peerArgs << "-c" << c;
            import.peer << mustRun("/usr/bin/psql", peerArgs, g_scratch).seconds;
            expectCount("server import (psql)", serverCount("PEER_DATA"), rows);
        }
        psql({"DROP TABLE PEER_DATA", "VACUUM ANALYZE ETC_DATA"});
        import.report("server_import");

        // 2. and 3. The files of the whole server history.
        step("server export and totals");
        const QString ourCsv = root.filePath("ours.csv"), peerCsv = root.filePath("peer.csv");
        const QString toCp932 = " | sed 's/$/\\r/' | iconv -f UTF-8 -t CP932 > ";
        Pair exportCsv, totals;
        for (int k = 0; k < repeat; ++k) {
            exportCsv.ours << mustRun(passlog, {"export", "csv", "--out", ourCsv, "--force"}, prog).seconds;
            exportCsv.peer << bash(psqlCommandLine("\\copy (" + exportSelect() + ") TO STDOUT") + toCp932 +
                                   shellQuoted(peerCsv)).seconds;
            if (!sameFiles(ourCsv, peerCsv)) {
                print("server_export_same", "no");
                fail("the exports differ: " + ourCsv + " " + peerCsv);
            }
        }
        print("server_export_same", "yes");
        exportCsv.report("server_export");
        // (A third of a second a run: more pairs, so that one busy moment does not decide.)
        for (int k = 0; k < qMax(repeat, 7); ++k) {
            totals.ours << mustRun(passlog, {"export", "totals", "--out", ourCsv, "--force"}, prog).seconds;
            totals.peer << bash("{ printf '%s\\n' " + shellQuoted("カードNO,年月,件数,合計金額,円以外件数") + "; " +
                                psqlCommandLine("\\copy (" + totalsSelect() + ") TO STDOUT") + "; }" + toCp932 +
                                shellQuoted(peerCsv)).seconds;
            if (!sameFiles(ourCsv, peerCsv)) {
                print("server_totals_same", "no");
                fail("the monthly totals differ: " + ourCsv + " " + peerCsv);
            }
        }
        print("server_totals_same", "yes");
        totals.report("server_totals");

        // 4. The N-row history file copied into the empty indexed server history.
        step("copy to the server");
        const QString copyRows = root.filePath("peer_copy.txt");
        Pair copy;
        for (int k = 0; k < repeat; ++k) {
            psql({"TRUNCATE ETC_DATA"});
            copyHistory(big, prog);
            const Run ours = mustRun(passlog, {"--copy-history-to-server"}, prog);
            expectCount("copy to the server (reported)", reportedCount(ours), rows);
            expectCount("copy to the server", serverCount(), rows);
            copy.ours << ours.seconds;
            if (k == 0)
                psql({"\\copy (SELECT " + kColumns28 + ",ROW_UID FROM ETC_DATA ORDER BY ROW_ID) TO " +
                      psqlFile(copyRows)});
            psql({"TRUNCATE ETC_DATA"});
            copy.peer << psql({"\\copy ETC_DATA (" + kColumns28 + ",ROW_UID) FROM " + psqlFile(copyRows)}).seconds;
            expectCount("copy to the server (psql)", serverCount(), rows);
        }
        copy.report("server_copy");

        // 5. DB削除 of the whole server history, its rows kept for undo,
        // against psql running the same DELETE.
        step("deletion on the server");
        seams::setMessageBoxHandler([](const seams::Message &m) {
            std::fprintf(stderr, "%s\n", qPrintable(m.text));
            return seams::MsgAnswer::Ok;
        });
        Pair deletion;
        for (int k = 0; k < repeat; ++k) {
            psql({"TRUNCATE ETC_DATA, ETC_DELETED", "\\copy ETC_DATA (" + kColumns28 + ",ROW_UID) FROM " + psqlFile(copyRows)});
            seams::setProgramFile(prog + "/passlog"); // its settings: passlog.ini, naming the server
            app::runSettings().programFolder = prog + '/';
            history::openDatabase(kDatFile);
            if (!history::usesServer())
                fail("the deletion's program folder does not name the server");
            testView = {};
            testView.viewType = 2;
            testView.cardNo = "0000";
            history::rememberShown({});
            const QString statement = history::shownViewSql(testView, kTableData, "DELETE");
            QElapsedTimer t;
            t.start();
            const qint64 deleted = history::deleteShown(app::Procedure::DeleteShownRows, statement, [] { return true; });
            deletion.ours << t.nsecsElapsed() / 1e9;
            const QString serverDelete = history::serverText(statement);
            history::closeDatabase(kDatFile);
            expectCount("deletion on the server", deleted, rows);
            expectCount("deletion on the server (kept)", serverCount("ETC_DELETED"), rows);
            psql({"TRUNCATE ETC_DATA, ETC_DELETED", "\\copy ETC_DATA (" + kColumns28 + ",ROW_UID) FROM " + psqlFile(copyRows)});
            deletion.peer << psql({serverDelete}).seconds;
            expectCount("deletion on the server (psql)", serverCount(), 0);
        }
        deletion.report("server_delete_1m");
        psql({"SET client_min_messages = warning", "DROP TABLE ETC_DATA CASCADE", "DROP TABLE ETC_DELETED"});
        stopCluster(g_startedCluster);
        g_startedCluster.clear();
    }

    // 5. 10,000 new passages into the N-row history file and into the 10,000-row one.
    step("10,000 new passages into the history files");
    // Into the two program folders' own histories, as an office imports a
    // month into the history it keeps: a fresh 10,000 each run (a copy of
    // the file would be a file from elsewhere, checked in full first).
    Pair into;
    qint64 bigPeak = 0, smallPeak = 0;
    for (int k = 0; k < repeat; ++k) {
        const QString fresh = root.filePath(QStringLiteral("new%1.csv").arg(k));
        writeCsv(fresh, qMax(rows, kSmall) + (k + 1) * kSmall, qMax(rows, kSmall) + (k + 2) * kSmall);
        for (const QString &from : {big, small}) {
            const Run r = mustRun(from + "/passlog", {"import", "csv", fresh}, from);
            expectCount("10,000 new passages", reportedCount(r), kSmall);
            (from == big ? into.ours : into.peer) << r.seconds;
            qint64 &peak = from == big ? bigPeak : smallPeak;
            peak = qMax(peak, r.peakKib);
        }
    }
    print("import_10k_into_1m_s", into.best(into.ours));
    print("import_10k_into_10k_s", into.best(into.peer));
    print("import_10k_into_10k_peak_mib", QString::number(smallPeak / 1024.0, 'f', 1));
    g_ratios << "import_10k_into_1m_ratio: " + QString::number(into.medianRatio(), 'f', 3);
    g_ratios << "import_10k_into_1m_peak_mib: " + QString::number(bigPeak / 1024.0, 'f', 1);
    for (const QString &line : g_ratios)
        out << line << Qt::endl;
    return 0;
}
