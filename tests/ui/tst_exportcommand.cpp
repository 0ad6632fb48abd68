// "passlog export": the files the command line writes are the window's files
// for the same history and conditions (CSV出力, 標準印刷 to "PDFファイル",
// 月別集計's CSV出力), and its exit statuses, --force and --append.

#include "../reports/ReportFixture.h"
#include "app/PrinterSeam.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "app/basCommon.h"
#include "reports/MonthlyReport.h"
#include "ui/Commands.h"
#include "ui/ReportOperations.h"
#include "ui/frmMain.h"
#include "ui/frmMonthlyTotals.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {
struct Run {
    int status = -1;
    QString err;
};
} // namespace

class TestExportCommand : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    std::unique_ptr<frmMain> w;
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
        basAccess_MakeReadSQL(kTableData, 2, s);
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        w = std::make_unique<frmMain>();
        openDatabases(*h);
        basMain_GetIniFile(); // the window's settings file
        h->setNow(QDateTime::currentDateTime()); // the statement is dated the day it is written
        CSVPath = basCommon_CheckPath(h->programFolder());
        chosen.clear();
        seams::setSaveFileHandler([this](const QString &, const QString &, const QString &) {
            return chosen.isEmpty() ? QString() : chosen.takeFirst();
        });
        seams::setPrinterListHandler([] { return seams::PrinterList{{"Laser"}, "Laser"}; });
        seams::setPrintQuestionHandler([](const seams::Message &) { return seams::PrintAnswer::Print; });
        basMain_GetPrinter();
        QVERIFY(QFile::copy(QStringLiteral(PASSLOG_PROGRAM), path("passlog")));
        basCommon_WriteIniString(kSectionMain, "ViewSort", "NEW", path("passlog.ini"));
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
        AppPath.clear();
    }

    void csvEqualsTheWindows()
    {
        for (const QString &sort : {QStringLiteral("NEW"), QStringLiteral("OLD")}) {
            ViewSort = sort;
            readView("0000");
            chosen << path("window-" + sort + ".csv");
            basMain_CSVOutput();
            QStringList args{"export", "csv", "--out", path("cli-" + sort + ".csv")};
            if (sort == "OLD")
                args << "--sort" << "old"; // the settings file says NEW
            QCOMPARE(run(args).status, 0);
            QCOMPARE(readAll(path("cli-" + sort + ".csv")), readAll(path("window-" + sort + ".csv")));
        }
        QVERIFY(readAll(path("cli-NEW.csv")) != readAll(path("cli-OLD.csv")));
        // A card and a range.
        ViewSort = "NEW";
        readView("2222", "2024/04/15 08:30:00", "2024/05/01 08:30:00");
        chosen << path("window-range.csv");
        basMain_CSVOutput();
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
        ViewSort = "NEW";
        readView("0000", "2024/04/01 00:00:00", "2024/05/31 23:59:59");
        w->cboPrinter->setCurrentText(kPdfFilePrinter);
        chosen << path("window.pdf");
        basMain_PrintDefult();
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
        ViewCondition.ViewMode = 1;
        enableOutputCommands();
        QVERIFY(!w->mnuMonthlyTotals->isEnabled());
        ViewSort = "NEW";
        readView("0000");
        enableOutputCommands();
        QVERIFY(w->mnuMonthlyTotals->isEnabled());
        disableOutputCommands();
        QVERIFY(!w->mnuMonthlyTotals->isEnabled());
        frmMonthlyTotals window(shownMonthlyTotals(), QString());
        chosen << path("window-totals.csv");
        window.frmMonthlyTotals_cmdCSVOutput_Click();
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
            QVERIFY2(out.contains("GRANT SELECT, INSERT, UPDATE, DELETE ON ETC_DATA TO office_pc;") &&
                         out.contains("GRANT USAGE ON SEQUENCE") && out.contains("テーブルを用意しました") &&
                         out.contains("GRANT SELECT, INSERT, DELETE ON ETC_DELETED TO office_pc;"),
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
};

QTEST_MAIN(TestExportCommand)
#include "tst_exportcommand.moc"
