// Reports benchmark: the A4 statement as a PDF file and the CSV export of
// 10,000 and 100,000 history rows (50 cards, the whole history shown), and
// the CSV export against the sqlite3 shell exporting the same 17 columns of
// the same rows from the same database file.
//
// Then the CSV export of 1,000,000 rows, as the window runs it (rows counted
// for the progress, which is asked every few thousand rows), against the
// shell's own pipeline: sqlite3 -csv of the same 17 columns and rows, through
// iconv into code page 932.
//
// The statement's PDF file is written twice: by the program's own writer
// ("statement_*", what "PDFファイル" uses; its pages a second and the peak
// resident memory while it runs, for 100,000 rows) and painted through
// QPdfWriter ("pdf_*", what the printers get).
//
// Prints "name: value" lines, times in seconds; the last line is the ratio of
// the 1,000,000-row CSV export to the sqlite3 | iconv pipeline. Exits 1 when
// a CSV file and the shell's output differ in their number of rows, or the
// PDF in its number of pages from the statement's layout.

#include "BenchSupport.h"
#include "app/Seams.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "reports/CsvExport.h"
#include "reports/StatementPdf.h"
#include "reports/StatementPrint.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {

QTextStream out(stdout);

// The peak resident memory from now on: Linux resets the high-water mark
// when "5" is written to clear_refs.
void resetPeakMemory()
{
    QFile f("/proc/self/clear_refs");
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

double peakMemoryMb()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void print(const QString &name, const QString &value) { out << name << ": " << value << Qt::endl; }
void print(const QString &name, double seconds) { print(name, QString::number(seconds, 'f', 3)); }

// Appends history rows with every column the reports read.
void fill(qint64 rows, QRandomGenerator &rng, qint64 &serial)
{
    static const QStringList cars{"普通車", "中型車", "大型車", "軽自動車等"};
    static const QStringList roads{"東名高速道路", "中央自動車道", "関越自動車道", "名神高速道路"};
    static const QStringList ics{"東京", "厚木", "八王子", "練馬", "吹田", "浦和", "本線", "三郷"};
    QSqlDatabase db = history::database(DbConnection::History);
    db.transaction();
    QSqlQuery q(db);
    q.prepare("INSERT INTO ETC_DATA (ITC_IN,ITC_IN_ROAD,ITC_IN_GATE,JID_IN,JID_IN_NAME,ITC_OUT,ITC_OUT_ROAD,"
              "ITC_OUT_GATE,JID_OUT,JID_OUT_NAME,REG_DATE,REG_TIME,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,"
              "CAR_NAME,PASS_MONEY,PASS_UNIT,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) VALUES "
              "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    const QDateTime base(QDate(2015, 1, 1), QTime(0, 0, 0), Qt::UTC);
    for (qint64 i = 0; i < rows; ++i) {
        const QDateTime t = base.addSecs(serial++ * 97);
        const QString date = t.toString("yyyy/MM/dd"), time = t.toString("HH:mm:ss");
        const int money = 100 * int(1 + rng.bounded(40));
        const int car = int(rng.bounded(cars.size()));
        const QString card = QString::number(1000 + rng.bounded(50));
        const QString roadIn = roads[rng.bounded(roads.size())], icIn = ics[rng.bounded(ics.size())];
        const QString roadOut = roads[rng.bounded(roads.size())], icOut = ics[rng.bounded(ics.size())];
        const bool open = rng.bounded(50) == 0; // now and then a toll not yet fixed
        const QVariantList values{"01001",  roadIn, icIn, 101, "中日本高速道路", "01005", roadOut, icOut, 104,
                                  "中日本高速道路", "2024/05/21", "09:00:00", card, date, time, date + '-' + time,
                                  car + 1, cars[car], money, open ? "未確定" : "円", card, date, time,
                                  open ? QString("未確定") : QString::number(money) + "円", cars[car],
                                  roadIn + ' ' + icIn, roadOut + ' ' + icOut};
        for (int k = 0; k < values.size(); ++k)
            q.bindValue(k, values[k]);
        if (!q.exec())
            qFatal("insert failed");
    }
    db.commit();
}

qint64 lines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    qint64 n = 0;
    while (!f.atEnd()) {
        const QByteArray chunk = f.read(1 << 20);
        n += chunk.count('\n');
    }
    return n;
}

// The 17 columns of the CSV file in the order of the shown view.
const char *const kSqliteExport =
    "SELECT カードNO,PASS_DATE,PASS_TIME,CAR_CODE,PASS_MONEY,PASS_UNIT,CAR_NAME,JID_IN,ITC_IN,JID_OUT,ITC_OUT,"
    "JID_IN_NAME,ITC_IN_ROAD,ITC_IN_GATE,JID_OUT_NAME,ITC_OUT_ROAD,ITC_OUT_GATE FROM ETC_DATA "
    "ORDER BY カードNO ASC,ご利用日 DESC,通過時間 DESC,入口料金所 ASC,出口料金所 ASC;";

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString sqlite3 = QStandardPaths::findExecutable("sqlite3");
    if (sqlite3.isEmpty()) {
        std::fprintf(stderr, "sqlite3 is not installed (scripts/setup.sh installs it)\n");
        return 2;
    }
    QTemporaryDir dir;
    openBenchHistory(dir);
    testView = {};
    testView.viewType = 2;
    testView.cardNo = "0000";

    QRandomGenerator rng(20240501);
    qint64 serial = 0;
    bool same = true;
    double ratio = 0;
    for (const qint64 size : {qint64(10000), qint64(100000)}) {
        const QString n = QString::number(size);
        fill(size - serial, rng, serial);

        QElapsedTimer t;
        const QString ownPath = dir.filePath("statement-own.pdf");
        qint32 ownPages = 0;
        resetPeakMemory();
        t.start();
        {
            QFile own(ownPath);
            if (!own.open(QIODevice::WriteOnly))
                qFatal("cannot write %s", qPrintable(ownPath));
            ownPages = reports::writeStatementPdf(own, testView, QString(), {kStatementTitle, "bench_reports"});
        }
        const double ownSeconds = qMax(t.nsecsElapsed() / 1e9, 1e-6);
        const double ownPeak = peakMemoryMb();
        print("statement_seconds_" + n, ownSeconds);
        print("statement_pages_" + n, QString::number(ownPages));
        print("statement_bytes_" + n, QString::number(QFileInfo(ownPath).size()));
        if (size != 100000) // the same figure for fewer pages: flat when the pages do not stay in memory
            print("statement_peak_rss_mb_" + n, QString::number(ownPeak, 'f', 1));

        t.restart();
        const QString pdfPath = dir.filePath("statement.pdf");
        qint32 pages = 0;
        {
            QPdfWriter pdf(pdfPath);
            pages = reports::paintStatement(pdf, testView, QString());
        }
        print("pdf_seconds_" + n, t.elapsed() / 1000.0);
        print("pdf_pages_" + n, QString::number(pages));
        print("pdf_bytes_" + n, QString::number(QFileInfo(pdfPath).size()));
        reports::QueryRows rows(reports::shownRowsStatement(testView));
        const qint32 laidOut = reports::composeStatement(std::ref(rows), 2, QString(), [](const reports::StatementPage &) {});
        same = same && pages == laidOut && pages > 0 && ownPages == laidOut;
        if (size == 100000) {
            print("statement_pages_per_s", QString::number(ownPages / ownSeconds, 'f', 0));
            print("statement_peak_rss_mb", QString::number(ownPeak, 'f', 1));
        }

        const QString csvPath = dir.filePath("history.csv");
        t.restart();
        reports::writeCsvFile(csvPath, reports::CsvCreate, testView, QString());
        const double csvSeconds = t.nsecsElapsed() / 1e9;
        print("csv_seconds_" + n, csvSeconds);
        print("csv_rows_" + n, QString::number(lines(csvPath)));

        const QString shellPath = dir.filePath("sqlite3.csv");
        QProcess shell;
        shell.setStandardOutputFile(shellPath);
        t.restart();
        shell.start(sqlite3, {"-csv", history::databasePath(kDatFile), QString::fromUtf8(kSqliteExport)});
        shell.waitForFinished(-1);
        const double shellSeconds = qMax(t.nsecsElapsed() / 1e9, 1e-6);
        print("sqlite3_csv_seconds_" + n, shellSeconds);
        print("sqlite3_csv_rows_" + n, QString::number(lines(shellPath)));
        same = same && shell.exitCode() == 0 && lines(csvPath) == size && lines(shellPath) == size;
        ratio = csvSeconds / shellSeconds;
    }

    // 1,000,000 rows: the export with its progress against sqlite3 | iconv.
    const QString iconv = QStandardPaths::findExecutable("iconv");
    if (iconv.isEmpty()) {
        std::fprintf(stderr, "iconv is not installed\n");
        return 2;
    }
    const qint64 million = 1000000;
    fill(million - serial, rng, serial);
    const QString csvPath = dir.filePath("history-1m.csv");
    QElapsedTimer t;
    t.start();
    qint64 reports = 0;
    reports::writeCsvFile(csvPath, reports::CsvCreate, testView, QString(), [&](qint64, qint64) { return ++reports > 0; });
    const double csvSeconds = t.nsecsElapsed() / 1e9;
    const QString shellPath = dir.filePath("sqlite3-iconv-1m.csv");
    QProcess shell;
    t.restart();
    shell.start("sh", {"-c", "\"$1\" -csv \"$2\" \"$3\" | \"$4\" -f UTF-8 -t CP932 > \"$5\"", "sh", sqlite3,
                       history::databasePath(kDatFile), QString::fromUtf8(kSqliteExport), iconv, shellPath});
    shell.waitForFinished(-1);
    const double shellSeconds = qMax(t.nsecsElapsed() / 1e9, 1e-6);
    // The same export through Qt's driver, the way of the shared history's server.
    const QString genericPath = dir.filePath("history-1m-qt.csv");
    t.restart();
    {
        reports::QueryRows rows(reports::shownRowsStatement(testView));
        reports::writeCsvFile(genericPath, reports::CsvCreate, std::ref(rows), 2, QString());
    }
    print("csv_1m_qt_driver_s", t.nsecsElapsed() / 1e9);
    QFile a(csvPath), b(genericPath);
    same = same && a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.size() == b.size();
    while (same && !a.atEnd())
        same = a.read(1 << 20) == b.read(1 << 20);
    print("csv_1m_same_bytes_as_qt_driver", same ? "yes" : "no");
    print("csv_1m_s", csvSeconds);
    print("csv_1m_rows", QString::number(lines(csvPath)));
    print("csv_1m_progress_reports", QString::number(reports));
    print("csv_1m_sqlite3_iconv_s", shellSeconds);
    print("csv_1m_sqlite3_iconv_rows", QString::number(lines(shellPath)));
    print("csv_1m_ratio", QString::number(csvSeconds / shellSeconds, 'f', 2));
    same = same && shell.exitCode() == 0 && lines(csvPath) == million && lines(shellPath) == million;
    print("csv_ratio_100000", QString::number(ratio, 'f', 2));
    ratio = csvSeconds / shellSeconds;

    history::closeDatabase(kDatFile);
    print("same_rows", same ? "yes" : "no");
    print("ratio", QString::number(ratio, 'f', 2));
    return same ? 0 : 1;
}
