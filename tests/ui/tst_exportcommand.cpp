// "passlog export": the files the command line writes are the window's files
// for the same history and conditions (CSV出力, 標準印刷 to "PDFファイル",
// 月別集計's CSV出力), and its exit statuses, --force and --append.

#include "app/RunSettings.h"
#include "../reports/ReportFixture.h"
#include "app/PrinterSeam.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "app/Common.h"
#include "reports/MonthlyReport.h"
#include "ui/Commands.h"
#include "ui/ReportOperations.h"
#include "ui/MainWindow.h"
#include "ui/MonthlyTotalsWindow.h"

#include "reports/CsvImport.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace ui;

namespace {
struct Run {
    int status = -1;
    QString err;
};

QByteArray name(const QString &path) { return QFile::encodeName(path); }

// What the path is on disk: 'f' regular file, 'p' FIFO, 'c' device, 'd' folder, 'l' symbolic link, '-' nothing.
char kindOf(const QString &path)
{
    struct stat s;
    if (::lstat(name(path).constData(), &s) != 0)
        return '-';
    return S_ISLNK(s.st_mode) ? 'l' : S_ISFIFO(s.st_mode) ? 'p' : S_ISCHR(s.st_mode) ? 'c' : S_ISDIR(s.st_mode) ? 'd' : 'f';
}

// The device and inode of what the path names (through symbolic links).
std::pair<dev_t, ino_t> inodeOf(const QString &path)
{
    struct stat s;
    if (::stat(name(path).constData(), &s) != 0)
        return {0, 0};
    return {s.st_dev, s.st_ino};
}

// A file's bytes by digest, "-" when it is not there.
QByteArray digestOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "-";
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}
} // namespace

class TestExportCommand : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    std::unique_ptr<MainWindow> w;
    QStringList chosen;

    QString path(const QString &name) const { return QDir(h->programFolder()).filePath(name); }

    // The program copied into the test's program folder, so that it finds the same history there.
    Run run(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(h->programFolder());
        p.start(path("passlog"), args);
        if (!p.waitForFinished(60000))
            return {};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
    // The window's view after DB読込 with these conditions.
    void readView(const QString &card, const QString &from = {}, const QString &to = {})
    {
        ViewSelection s;
        s.TypedCardNo = card;
        if (!from.isEmpty()) {
            s.SelectMode = 1;
            const QDateTime f = QDateTime::fromString(from, "yyyy/MM/dd HH:mm:ss");
            const QDateTime t = QDateTime::fromString(to, "yyyy/MM/dd HH:mm:ss");
            s.Range = {f.date(), f.time(), t.date(), t.time()};
        }
        history::viewStatement(kTableData, (w->view = history::viewQuery(2, s)));
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        w = std::make_unique<MainWindow>();
        openDatabases(*h);
        app::readSettingsFile(); // the window's settings file
        h->setNow(QDateTime::currentDateTime()); // the statement is dated the day it is written
        app::runSettings().csvFolder = app::withTrailingSeparator(h->programFolder());
        chosen.clear();
        seams::setSaveFileHandler([this](const QString &, const QString &, const QString &) {
            return chosen.isEmpty() ? QString() : chosen.takeFirst();
        });
        seams::setPrinterListHandler([] { return seams::PrinterList{{"Laser"}, "Laser"}; });
        seams::setPrintQuestionHandler([](const seams::Message &) { return seams::PrintAnswer::Print; });
        fillPrinterList(*w);
        QVERIFY(QFile::copy(QStringLiteral(PASSLOG_PROGRAM), path("passlog")));
        app::writeProfileString(kSectionMain, "ViewSort", "NEW", path("passlog.ini"));
        const QList<std::tuple<QString, QString, QString>> rows{
            {"1111", "2024/03/31", "1320円"}, {"1111", "2024/04/01", "未確定"}, {"1111", "2024/04/02", "12度数"},
            {"2222", "2024/04/15", "980円"},  {"2222", "2024/05/01", "450円"},  {"2222", "2024/05/20", "3,0円"},
        };
        for (const auto &[card, day, toll] : rows)
            insertRecord("ETC_DATA", tomeiRecord(card),
                         {{"ご利用日", day}, {"DATE_TIME", day + "-08:30:00"}, {"PASS_DATE", day}, {"通行料金", toll}});
    }
    void cleanup()
    {
        seams::setPrinterListHandler({});
        seams::setPrintQuestionHandler({});
        closeDatabases();
        w.reset();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void csvEqualsTheWindows()
    {
        for (const QString &sort : {QStringLiteral("NEW"), QStringLiteral("OLD")}) {
            app::runSettings().viewSort = sort;
            readView("0000");
            chosen << path("window-" + sort + ".csv");
            exportCsv(*w);
            QStringList args{"export", "csv", "--out", path("cli-" + sort + ".csv")};
            if (sort == "OLD")
                args << "--sort" << "old"; // the settings file says NEW
            QCOMPARE(run(args).status, 0);
            QCOMPARE(readAll(path("cli-" + sort + ".csv")), readAll(path("window-" + sort + ".csv")));
        }
        QVERIFY(readAll(path("cli-NEW.csv")) != readAll(path("cli-OLD.csv")));
        // A card and a range.
        app::runSettings().viewSort = "NEW";
        readView("2222", "2024/04/15 08:30:00", "2024/05/01 08:30:00");
        chosen << path("window-range.csv");
        exportCsv(*w);
        QCOMPARE(run({"export", "csv", "--card", "2222", "--from", "2024/04/15 08:30:00", "--to",
                      "2024/05/01 08:30:00", "--out", path("cli-range.csv")})
                     .status,
                 0);
        QCOMPARE(readAll(path("cli-range.csv")), readAll(path("window-range.csv")));
        QCOMPARE(readAll(path("cli-range.csv")).count("\r\n"), 2);
    }

    void statementEqualsTheWindows()
    {
        const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
        if (pdftotext.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        app::runSettings().viewSort = "NEW";
        readView("0000", "2024/04/01 00:00:00", "2024/05/31 23:59:59");
        w->cboPrinter->setCurrentText(kPdfFilePrinter);
        chosen << path("window.pdf");
        printStatement(*w);
        const Run cli = run({"export", "statement", "--out", path("cli.pdf"), "--from", "2024/04/01 00:00:00", "--to",
                             "2024/05/31 23:59:59"});
        QCOMPARE(cli.status, 0);
        const QStringList pages = pdfPages(pdftotext, path("window.pdf"));
        QVERIFY(!pages.isEmpty());
        QVERIFY(pages.join(' ').contains("2222"));
        QCOMPARE(pdfPages(pdftotext, path("cli.pdf")), pages);
    }

    void totalsEqualTheWindows()
    {
        // The menu item is there for the history, not for a card read.
        w->view.viewType = 1;
        enableOutputCommands(*w);
        QVERIFY(!w->mnuMonthlyTotals->isEnabled());
        app::runSettings().viewSort = "NEW";
        readView("0000");
        enableOutputCommands(*w);
        QVERIFY(w->mnuMonthlyTotals->isEnabled());
        disableOutputCommands(*w);
        QVERIFY(!w->mnuMonthlyTotals->isEnabled());
        MonthlyTotalsWindow window(reports::shownMonthlyTotals(w->view), QString());
        chosen << path("window-totals.csv");
        window.saveCsv();
        QCOMPARE(run({"export", "totals", "--out", path("cli-totals.csv")}).status, 0);
        QCOMPARE(readAll(path("cli-totals.csv")), readAll(path("window-totals.csv")));
        QCOMPARE(readAll(path("cli-totals.csv")),
                 cp932::encode("カードNO,年月,件数,合計金額,円以外件数\r\n\"1111\",\"2024/03\",1,1320,0\r\n"
                               "\"1111\",\"2024/04\",2,0,2\r\n\"2222\",\"2024/04\",1,980,0\r\n"
                               "\"2222\",\"2024/05\",2,450,0\r\n"));
    }

    // 0 written, 1 failed with the old file as it was, 2 usage; --force replaces, --append extends.
    void statusesForceAndAppend()
    {
        const QString out = path("out.csv");
        QCOMPARE(run({"export", "csv", "--card", "1111", "--out", out}).status, 0);
        const QByteArray card1111 = readAll(out);
        QCOMPARE(card1111.count("\r\n"), 3);

        Run r = run({"export", "csv", "--card", "2222", "--out", out});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("--force"), qPrintable(r.err));
        QCOMPARE(readAll(out), card1111);
        QCOMPARE(run({"export", "totals", "--out", out}).status, 1);
        QCOMPARE(readAll(out), card1111);

        QCOMPARE(run({"export", "csv", "--card", "2222", "--out", out, "--append"}).status, 0);
        const QByteArray both = readAll(out);
        QVERIFY(both.startsWith(card1111));
        QCOMPARE(both.count("\r\n"), 6);
        QCOMPARE(run({"export", "csv", "--card", "2222", "--out", out, "--force"}).status, 0);
        QCOMPARE(readAll(out), both.mid(card1111.size()));

        // Nothing to print: no file, status 1. A folder that does not exist: status 1, nothing left.
        r = run({"export", "statement", "--card", "9999", "--out", path("none.pdf")});
        QCOMPARE(r.status, 1);
        QVERIFY(!QFile::exists(path("none.pdf")));
        QVERIFY(!r.err.isEmpty());
        QCOMPARE(run({"export", "totals", "--out", path("missing/totals.csv")}).status, 1);
        QVERIFY(!QDir(path("missing")).exists());

        for (const QStringList &usage : QList<QStringList>{
                 {"export"},
                 {"export", "csv"},
                 {"export", "pdf", "--out", out},
                 {"export", "totals", "--append", "--out", path("t.csv")},
                 {"export", "csv", "--out", path("t.csv"), "--sort", "NEWEST"},
                 {"export", "csv", "--out", path("t.csv"), "--from", "2024/04/01 00:00:00"},
                 {"export", "csv", "--out", path("t.csv"), "--from", "2024/04/01", "--to", "2024/04/30"},
                 {"export", "csv", "--out", path("t.csv"), "--from", "2024/05/01 00:00:00", "--to",
                  "2024/04/01 00:00:00"},
                 {"export", "csv", "--out", path("t.csv"), "--card", "12345"},
                 {"export", "csv", "--out", path("t.csv"), "--colour"},
                 {"exprot", "csv"},
             }) {
            r = run(usage);
            QVERIFY2(r.status == 2, qPrintable(usage.join(' ') + ": " + r.err));
            QVERIFY(r.err.contains(QStringLiteral("。")));
        }
        QVERIFY(!QFile::exists(path("t.csv")));
        QCOMPARE(run({"export", "csv", "--out", path("t.csv"), "--card", "12a"}).status, 2);
        QCOMPARE(run({"export", "csv", "--out", path("t.csv"), "--card", " 111"}).status, 2);
        QCOMPARE(run({"export", "csv", "--out", path("t.csv"), "--card", "1111\n"}).status, 2);
        QVERIFY(!QFile::exists(path("t.csv")));

        QProcess help;
        help.start(path("passlog"), {"--help"});
        QVERIFY(help.waitForFinished(30000));
        QCOMPARE(help.exitCode(), 0);
        QVERIFY(QString::fromLocal8Bit(help.readAllStandardOutput()).contains("export"));
        help.start(path("passlog"), {"export", "--help"});
        QVERIFY(help.waitForFinished(30000));
        QCOMPARE(help.exitCode(), 0);
        const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
        for (const char *option : {"--out", "--force", "--append", "--card", "--from", "--to", "--sort", "cron"})
            QVERIFY2(text.contains(QLatin1String(option)), option);
    }

    void serverInitCommand()
    {
        // "passlog server init" as the cluster's owner: the table and its
        // indexes, once (a second run changes nothing), and the GRANT lines of
        // the day-to-day role; a table of another shape refused, unchanged.
        if (qEnvironmentVariableIsEmpty("PASSLOG_PG_PORT"))
            QSKIP("no PostgreSQL cluster (scripts/test.sh starts one)");
        pointAtServer(*h);
        serverAdminExec("SET client_min_messages = warning; DROP TABLE IF EXISTS ETC_DATA, ETC_DELETED");
        auto init = [&](const QStringList &more, QString *out) {
            QProcess p;
            p.setWorkingDirectory(h->programFolder());
            p.start(path("passlog"), QStringList{"server", "init"} + more);
            if (!p.waitForFinished(60000))
                return -1;
            *out = QString::fromLocal8Bit(p.readAllStandardOutput()) + QString::fromLocal8Bit(p.readAllStandardError());
            return p.exitCode();
        };
        QString out;
        for (int run = 0; run < 2; ++run) {
            QCOMPARE(init({"--role", "office_pc"}, &out), 0);
            QVERIFY2(out.contains("GRANT SELECT, INSERT, UPDATE, DELETE ON public.ETC_DATA TO office_pc;") &&
                         out.contains("GRANT USAGE ON SEQUENCE") && out.contains("テーブルを用意しました") &&
                         out.contains("GRANT SELECT, INSERT, DELETE ON public.ETC_DELETED TO office_pc;"),
                     qPrintable(out));
        }
        QCOMPARE(init({"--role", "x; DROP TABLE ETC_DATA"}, &out), 2);
        serverAdminExec("INSERT INTO ETC_DATA (CARD_ID) VALUES ('0001')"); // the table is there
        serverAdminExec("DROP TABLE ETC_DATA; CREATE TABLE ETC_DATA (CARD_ID INTEGER)");
        QCOMPARE(init({}, &out), 1);
        QVERIFY2(out.contains("passlog server init") && out.contains("何も変更していません"), qPrintable(out));
        serverAdminExec("INSERT INTO ETC_DATA (CARD_ID) VALUES (1)"); // still the other shape
        serverAdminExec("DROP TABLE ETC_DATA");
    }

    // The history file (under any name: a hard link, a symbolic link, "./"),
    // its logs and clean-end marker, the masters and the settings file never
    // receive an export, also with --force or --append: status 1, a message
    // naming the file, and the file byte for byte as it was.
    void ownFilesAreNeverWritten()
    {
        const QString history = path("ETC_DAT.sqlite");
        QVERIFY(QFile::exists(history));
        QVERIFY(QDir(h->programFolder()).mkdir("links"));
        QCOMPARE(::link(name(history).constData(), name(path("links/履歴.sqlite")).constData()), 0);
        QVERIFY(QFile::link(history, path("links/soft.sqlite")));
        const QList<QStringList> everyWriter{{"csv", "--force"}, {"csv", "--append"}, {"totals", "--force"},
                                             {"statement", "--force"}};
        const QList<std::pair<QString, QList<QStringList>>> targets{
            {history, everyWriter},
            {path("links/履歴.sqlite"), everyWriter},
            {path("links/soft.sqlite"), {{"csv", "--force"}}},
            {"./ETC_DAT.sqlite", {{"csv", "--force"}}},
            {"links/../ETC_DAT.sqlite", {{"totals", "--force"}}},
            {history + "-wal", {{"csv", "--force"}}},
            {history + "-journal", {{"csv", "--force"}}},
            {history + "-closed", {{"csv", "--force"}}},
            {path("ETC_MST.sqlite"), {{"csv", "--force"}}},
            {path("passlog.ini"), {{"totals", "--force"}, {"csv", "--append"}}},
        };
        for (const auto &[target, writers] : targets) {
            for (const QStringList &writer : writers) {
                const QByteArray before = digestOf(QDir(h->programFolder()).absoluteFilePath(target));
                const Run r = run({"export", writer.at(0), writer.at(1), "--out", target});
                const QString what = target + ' ' + writer.join(' ') + ": " + r.err;
                QVERIFY2(r.status == 1, qPrintable(what));
                QVERIFY2(r.err.contains(QStringLiteral("このプログラムが使っているファイルです")), qPrintable(what));
                // SQLite's own logs and the clean-end marker change with the run's
                // own open and close, and the history file with its checkpoint:
                // that one is still the database with every row.
                const QString file = QDir(h->programFolder()).absoluteFilePath(target);
                if (inodeOf(file) == inodeOf(history)) {
                    QVERIFY2(readAll(file).startsWith(QByteArray("SQLite format 3", 16)), qPrintable(what));
                    QCOMPARE(column("SELECT COUNT(*) FROM ETC_DATA"), QStringList{"6"});
                } else if (!target.startsWith(history + '-')) {
                    QVERIFY2(digestOf(file) == before, qPrintable(what));
                }
            }
        }
        QCOMPARE(kindOf(path("links/soft.sqlite")), 'l');
        QVERIFY(!QFile::exists(history + "-journal"));

        // The window's writers: CSV出力 and the PDF file ask again, 月別集計's CSV is refused.
        readView("0000");
        h->clearMessages();
        chosen << path("links/履歴.sqlite") << path("window.csv");
        exportCsv(*w);
        QVERIFY2(h->messageTexts().value(0).contains(QStringLiteral("このプログラムが使っているファイルです")),
                 qPrintable(h->messageTexts().join('|')));
        QCOMPARE(doneTexts(h->messageTexts()).value(1), QStringLiteral("CSV出力が完了しました。"));
        QCOMPARE(readAll(path("window.csv")).count("\r\n"), 6);
        const QByteArray settingsBytes = digestOf(path("passlog.ini")); // CSV出力 keeps its folder there
        h->clearMessages();
        w->cboPrinter->setCurrentText(kPdfFilePrinter);
        chosen << path("passlog.ini"); // then cancelled
        printStatement(*w);
        QVERIFY2(h->messageTexts().join('|').contains(QStringLiteral("このプログラムが使っているファイルです")),
                 qPrintable(h->messageTexts().join('|')));
        QVERIFY(!h->messageTexts().join('|').contains(QStringLiteral("完了")));
        h->clearMessages();
        QVERIFY(!asCommand([&] { return reports::writeMonthlyCsv(path("links/soft.sqlite"), reports::shownMonthlyTotals(w->view)); }));
        QVERIFY(h->messageTexts().value(0).contains(QStringLiteral("このプログラムが使っているファイルです")));
        QVERIFY(readAll(history).startsWith(QByteArray("SQLite format 3", 16)));
        QCOMPARE(column("SELECT COUNT(*) FROM ETC_DATA"), QStringList{"6"});
        QCOMPARE(digestOf(path("passlog.ini")), settingsBytes);
    }

    // A FIFO gets the lines written into it and stays a FIFO (also with
    // --append); a folder is refused; a symbolic link to a file stays a link
    // and its file gets the new bytes.
    void fifoFolderAndLink()
    {
        QCOMPARE(run({"export", "csv", "--card", "1111", "--out", path("plain.csv")}).status, 0);
        const QByteArray expected = readAll(path("plain.csv"));
        const QString fifo = path("fifo");
        QCOMPARE(::mkfifo(name(fifo).constData(), 0600), 0);
        for (const char *how : {"--force", "--append"}) {
            QProcess reader;
            reader.start("cat", {fifo});
            QVERIFY(reader.waitForStarted());
            const Run r = run({"export", "csv", "--card", "1111", how, "--out", fifo});
            const bool ended = reader.waitForFinished(10000);
            if (!ended)
                reader.kill(), reader.waitForFinished();
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QVERIFY(ended);
            QCOMPARE(reader.readAllStandardOutput(), expected);
            QCOMPARE(kindOf(fifo), 'p');
        }

        QVERIFY(QDir(h->programFolder()).mkdir("folder.csv"));
        for (const char *kind : {"csv", "totals", "statement"}) {
            const Run r = run({"export", kind, "--force", "--out", path("folder.csv")});
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.contains(QStringLiteral("出力先はフォルダです")), qPrintable(r.err));
            QCOMPARE(kindOf(path("folder.csv")), 'd');
        }
        QVERIFY(QDir(path("folder.csv")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

        writeFile(path("old.csv"), "old\r\n");
        QVERIFY(QFile::link(path("old.csv"), path("link.csv")));
        QCOMPARE(run({"export", "csv", "--card", "1111", "--force", "--out", path("link.csv")}).status, 0);
        QCOMPARE(kindOf(path("link.csv")), 'l');
        QCOMPARE(readAll(path("old.csv")), expected);
        QCOMPARE(run({"export", "csv", "--card", "1111", "--append", "--out", path("link.csv")}).status, 0);
        QCOMPARE(kindOf(path("link.csv")), 'l');
        QCOMPARE(readAll(path("old.csv")), expected + expected);
    }

    // Device nodes made in the test's folder: a null device takes every
    // writer and stays a device; a full one (no space) is a failure, status 1.
    void deviceNodes()
    {
        const QString null = path("null"), full = path("full");
        if (::mknod(name(null).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
            ::mknod(name(full).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
            QSKIP("device nodes cannot be made here");
        QFile probe(null);
        if (!probe.open(QIODevice::WriteOnly))
            QSKIP("device nodes cannot be opened here");
        probe.close();
        for (const char *kind : {"csv", "totals", "statement"}) {
            Run r = run({"export", kind, "--force", "--out", null});
            QVERIFY2(r.status == 0, qPrintable(QString(kind) + ": " + r.err));
            QCOMPARE(kindOf(null), 'c');
            r = run({"export", kind, "--force", "--out", full});
            QVERIFY2(r.status == 1, qPrintable(QString(kind) + ": " + r.err));
            QVERIFY2(r.err.contains(QStringLiteral("書き込めませんでした")), qPrintable(r.err));
            QCOMPARE(kindOf(full), 'c');
        }
        QCOMPARE(run({"export", "csv", "--append", "--out", null}).status, 0);
        QCOMPARE(kindOf(null), 'c');
        QCOMPARE(run({"export", "csv", "--append", "--out", full}).status, 1);
        QCOMPARE(kindOf(full), 'c');
        // The window's monthly totals onto the full device: warned, not reported as written.
        h->clearMessages();
        readView("0000");
        QVERIFY(!asCommand([&] { return reports::writeMonthlyCsv(full, reports::shownMonthlyTotals(w->view)); }));
        QVERIFY(h->messageTexts().value(0).contains(QStringLiteral("書き込めませんでした")));
    }

    // --append gives a file CSV取込 reads back: after an old last line
    // without its line end, the new lines start on lines of their own; a
    // UTF-8 file (with or without a byte-order mark) is left as it was,
    // status 1, since the lines are code page 932.
    void appendedFileImportsBack()
    {
        const QString cut = path("cut.csv");
        QCOMPARE(run({"export", "csv", "--card", "1111", "--out", cut}).status, 0);
        QByteArray bytes = readAll(cut);
        QVERIFY(bytes.endsWith("\r\n"));
        bytes.chop(2);
        writeFile(cut, bytes);
        QCOMPARE(run({"export", "csv", "--card", "2222", "--append", "--out", cut}).status, 0);
        QVERIFY(readAll(cut).startsWith(bytes + "\r\n"));
        {
            reports::CsvImport import({cut});
            QVERIFY(import.check());
            QCOMPARE(import.summary().lines, qint64(6));
            QCOMPARE(import.summary().present, qint64(6));
        }

        const QByteArray line = cp932::decode(readAll(cut).left(readAll(cut).indexOf('\n') + 1)).toUtf8();
        for (const QByteArray &old : {QByteArray("\xEF\xBB\xBF") + line, line, QByteArray("\xEF\xBB\xBF\"x\"\r\n")}) {
            const QString utf8 = path("utf8.csv");
            writeFile(utf8, old);
            const Run r = run({"export", "csv", "--card", "2222", "--append", "--out", utf8});
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.contains(QStringLiteral("UTF-8 で書かれています")), qPrintable(r.err));
            QCOMPARE(readAll(utf8), old);
        }
        // A file of code page 932 takes the lines as before.
        QCOMPARE(run({"export", "csv", "--card", "2222", "--append", "--out", path("cli-cp932.csv")}).status, 0);
        QCOMPARE(run({"export", "csv", "--card", "1111", "--append", "--out", path("cli-cp932.csv")}).status, 0);
        reports::CsvImport import({path("cli-cp932.csv")});
        QVERIFY(import.check());
        QCOMPARE(import.summary().lines, qint64(6));
    }
};

QTEST_MAIN(TestExportCommand)
#include "tst_exportcommand.moc"
