// The desktop print window from the main window, against the reader
// emulator's relay unit and desktop printer: what the list shows, what the
// user's selection sends to the printer, the marks that follow the printer's
// answers, and the reader link given back when the window closes.

#include "FlowFixture.h"
#include "reader/ReaderLink.h"
#include "app/Constants.h"
#include "deskprint/DesktopPrint.h"
#include "ui/DesktopPrintDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTreeWidget>
#include <functional>

using namespace ui;
using namespace start;

namespace {

// A reader with the sample card behind a relay unit whose printer behaves as
// told, with its traffic log on.
QStringList relayWithPrinter(const QString &printer)
{
    QStringList args = readerWith(kSampleCard, {QStringLiteral("--relay"), QStringLiteral("--printer"), printer});
    args.removeAll(QStringLiteral("--quiet"));
    return args;
}

QStringList marks(const DesktopPrintDialog &d)
{
    QStringList out;
    for (int i = 0; i < d.ListView->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = d.ListView->topLevelItem(i);
        out << item->text(0) + (item->checkState(0) == Qt::Checked ? QStringLiteral("+") : QStringLiteral("-"));
    }
    return out;
}

QStringList dates(const DesktopPrintDialog &d)
{
    QStringList out;
    for (int i = 0; i < d.ListView->topLevelItemCount(); ++i)
        out << d.ListView->topLevelItem(i)->text(2);
    return out;
}

void selectRows(DesktopPrintDialog &d, const QList<int> &rows)
{
    d.ListView->clearSelection();
    for (int r : rows)
        d.ListView->topLevelItem(r)->setSelected(true);
}

} // namespace

class tst_desktopprint : public QObject {
    Q_OBJECT

    // Opens the window with 卓上印刷 (or its menu item), runs act while it is
    // open and closes it with 終了. False if the window never opened.
    static bool inPrintWindow(Flow &f, const std::function<void(DesktopPrintDialog &)> &act, bool fromMenu = false,
                              bool afterThePoll = true)
    {
        bool opened = false;
        int tries = 0;
        std::function<void()> attempt = [&] {
            auto *d = qobject_cast<DesktopPrintDialog *>(QApplication::activeModalWidget());
            if (!d || !d->isVisible()) {
                if (++tries < 500)
                    QTimer::singleShot(10, attempt);
                return;
            }
            opened = true;
            act(*d);
            QTest::mouseClick(d->cmdExit, Qt::LeftButton);
        };
        // The print commands are offered once the polling found the relay unit.
        if (afterThePoll)
            waitForLine();
        QTimer::singleShot(0, attempt);
        if (fromMenu) {
            if (!f.w->mnuPrintDesktop->isEnabled())
                return false;
            f.w->mnuPrintDesktop->trigger();
        } else if (!Flow::click(f.w->btnPrintDesktop)) {
            return false;
        }
        return opened;
    }

    // The print frames the emulator received since the last call. The
    // emulator logs a frame on its own time: with `expected`, waits up to 5 s
    // for that many to show up in its log (never for fewer).
    static QStringList printFrames(Flow &f, int expected = 0)
    {
        QStringList frames;
        const QDeadlineTimer deadline(expected > 0 ? 5000 : 0);
        for (;;) {
            for (const QString &line : f.emulator.takeLines(QStringLiteral("rx ")))
                if (line.startsWith(QStringLiteral("02 43 4F 4D 32 3A")))
                    frames << line;
            if (frames.size() >= expected || deadline.hasExpired())
                return frames;
            QTest::qWait(20);
        }
    }

    static QList<int> historyFlags()
    {
        QList<int> flags;
        for (const QString &v : column(QStringLiteral("SELECT PRINT_FLAG FROM ETC_DATA ORDER BY ご利用日 DESC;")))
            flags << v.toInt();
        return flags;
    }

    // History of card 0012 (2024/01/01 to /03, the newest printed already)
    // read back from the database.
    static void startOnHistory(Flow &f)
    {
        f.seedHistory(QStringLiteral("0012"), 3);
        historyExec(QStringLiteral("UPDATE ETC_DATA SET PRINT_FLAG=TRUE WHERE ご利用日='2024/01/03'"));
        QVERIFY2(f.start(), "reader emulator or main window did not start");
        QVERIFY(f.clickYes(f.w->btnDBRead));
        QCOMPARE(f.gridRows(), 3);
        QVERIFY(f.w->btnPrintDesktop->isEnabled());
        f.harness.clearMessages();
        f.emulator.forgetLines();
    }

private slots:
    void opensOnTheViewAndGivesTheLinkBack()
    {
        Flow f(relayWithPrinter(QStringLiteral("ack")));
        startOnHistory(f);
        for (bool fromMenu : {false, true}) {
            QVERIFY(inPrintWindow(
                f,
                [&](DesktopPrintDialog &d) {
                    QCOMPARE(d.windowTitle(), QStringLiteral("卓上プリンタ印刷"));
                    QVERIFY(!f.w->TimerPolling->isActive());
                    QCOMPARE(reader::link().relayMode, reader::RelayMode::Direct);
                    QVERIFY(!d.chkPrint->isChecked());
                    QStringList headers;
                    for (int c = 0; c < d.ListView->columnCount(); ++c)
                        headers << d.ListView->headerItem()->text(c);
                    QCOMPARE(headers, kDesktopPrintHeaders);
                    QCOMPARE(marks(d), QStringList({"済+", "未-", "未-"}));
                    QCOMPARE(dates(d), QStringList({"2024/01/03", "2024/01/02", "2024/01/01"}));
                    QCOMPARE(d.ListView->topLevelItem(1)->text(1), QStringLiteral("0012"));
                    QCOMPARE(d.ListView->topLevelItem(1)->text(4), QStringLiteral("200円"));
                },
                fromMenu));
            // The link sequence found the relay unit again; polling runs.
            QTRY_COMPARE(reader::link().relayMode, reader::RelayMode::ThroughRelayUnit);
            QVERIFY(f.idle());
            QVERIFY(printFrames(f).isEmpty());
        }
        QVERIFY(f.harness.messages().isEmpty());
    }

    // Marks follow the printer only: clicks on the check boxes change nothing,
    // a print with nothing selected sends nothing, printed rows leave the
    // filtered list.
    void printsTheSelectedRows()
    {
        Flow f(relayWithPrinter(QStringLiteral("ack")));
        startOnHistory(f);
        QVERIFY(inPrintWindow(f, [&](DesktopPrintDialog &d) {
            QTreeWidgetItem *item = d.ListView->topLevelItem(1);
            const QRect box = d.ListView->visualItemRect(item);
            QTest::mouseClick(d.ListView->viewport(), Qt::LeftButton, {}, QPoint(box.left() + 10, box.center().y()));
            item->setCheckState(0, Qt::Checked); // as any other way of toggling would
            d.ListView->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
            QCOMPARE(marks(d), QStringList({"済+", "未-", "未-"}));

            d.ListView->clearSelection();
            QTest::mouseClick(d.cmdPrint, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.printing(), 30000);
            QVERIFY(printFrames(f).isEmpty());
            QCOMPARE(marks(d), QStringList({"済+", "未-", "未-"}));
            QVERIFY(d.cmdPrint->isEnabled() && d.cmdExit->isEnabled() && d.ListView->isEnabled());

            d.chkPrint->setChecked(!d.chkPrint->isChecked()); // from the keyboard or an accessibility tool: the same
            QCOMPARE(dates(d), QStringList({"2024/01/02", "2024/01/01"}));
            selectRows(d, {0});
            QTest::mouseClick(d.cmdPrint, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.printing(), 30000);
            QCOMPARE(printFrames(f, 1).size(), 1);
            QCOMPARE(dates(d), QStringList({"2024/01/01"}));
            QCOMPARE(marks(d), QStringList({"未-"}));
            QTest::mouseClick(d.chkPrint, Qt::LeftButton);
            QCOMPARE(marks(d), QStringList({"済+", "済+", "未-"}));

            // A printed record can be printed again.
            selectRows(d, {0, 2});
            QTest::mouseClick(d.cmdPrint, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.printing(), 30000);
            QCOMPARE(printFrames(f, 2).size(), 2);
            QCOMPARE(marks(d), QStringList({"済+", "済+", "済+"}));
        }));
        QCOMPARE(historyFlags(), QList<int>({1, 1, 1}));
        // Each run ends with how many the printer took; nothing selected, no run.
        QCOMPARE(f.harness.messageTexts(), QStringList({"1件印刷しました。", "2件印刷しました。"}));
        QCOMPARE(f.harness.messages().last().icon, seams::MsgIcon::Information);
    }

    // The window opened again at once, while the poll its closing started is
    // still on the line: the records still go to the printer, and are marked.
    void reopenedAtOncePrintsToThePrinter()
    {
        Flow f(relayWithPrinter(QStringLiteral("ack")));
        startOnHistory(f);
        historyExec(QStringLiteral("UPDATE ETC_DATA SET PRINT_FLAG=0"));
        QVERIFY(inPrintWindow(f, [](DesktopPrintDialog &) {}));
        QVERIFY(reader::link().busy()); // the poll of the closing
        QVERIFY(inPrintWindow(
            f,
            [&](DesktopPrintDialog &d) {
                selectRows(d, {0});
                QTest::mouseClick(d.cmdPrint, Qt::LeftButton);
                QTRY_VERIFY_WITH_TIMEOUT(!d.printing(), 30000);
            },
            false, false));
        QCOMPARE(f.harness.messageTexts(), QStringList{"1件印刷しました。"});
        QCOMPARE(historyFlags(), QList<int>({1, 0, 0}));
    }

    // The paper runs out on the second of three selected records: the first
    // is marked, the user is told once, the third is not sent.
    void paperOutStopsTheRun()
    {
        Flow f(relayWithPrinter(QStringLiteral("paperout 1")));
        startOnHistory(f);
        historyExec(QStringLiteral("UPDATE ETC_DATA SET PRINT_FLAG=0"));
        QVERIFY(inPrintWindow(f, [&](DesktopPrintDialog &d) {
            selectRows(d, {0, 1, 2});
            QTest::mouseClick(d.cmdPrint, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.printing(), 30000);
            QCOMPARE(f.harness.messageTexts(), QStringList({kPaperOut, "1件印刷しました。"}));
            QCOMPARE(printFrames(f, 2).size(), 2);
            QCOMPARE(marks(d), QStringList({"済+", "未-", "未-"}));
            QVERIFY(d.cmdPrint->isEnabled() && d.cmdExit->isEnabled() && d.ListView->isEnabled());
        }));
        QCOMPARE(historyFlags(), QList<int>({1, 0, 0}));
    }

    // With the history on the shared server: a printed mark the server
    // refuses ends the run with its warning and the count of slips printed;
    // a connection lost before the list is refilled is told inside the
    // window, which stays usable and gives the reader back when closed.
    void serverRefusalsEndTheRunAndKeepTheWindow()
    {
        if (qEnvironmentVariableIsEmpty("PASSLOG_PG_PORT"))
            QSKIP("no PostgreSQL cluster (scripts/test.sh starts one)");
        Flow f(relayWithPrinter(QStringLiteral("ack")));
        pointAtServer(f.harness);
        app::runSettings().programFolder = f.harness.programFolder() + QLatin1Char('/');
        serverAdminExec(QStringLiteral("SET client_min_messages = warning; DROP TABLE IF EXISTS ETC_DATA, ETC_DELETED; "
                                       "DROP FUNCTION IF EXISTS refuse_marks() CASCADE"));
        initServer();
        history::openDatabase(kDatFile);
        startOnHistory(f);
        QVERIFY(inPrintWindow(f, [&](DesktopPrintDialog &d) {
            serverAdminExec(QStringLiteral(
                "CREATE FUNCTION refuse_marks() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'refused'; END $$ "
                "LANGUAGE plpgsql; CREATE TRIGGER refuse_marks BEFORE UPDATE ON ETC_DATA FOR EACH ROW "
                "EXECUTE FUNCTION refuse_marks()"));
            selectRows(d, {1, 2});
            QTest::mouseClick(d.cmdPrint, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.printing(), 30000);
            QCOMPARE(printFrames(f, 1).size(), 1); // no second slip after a mark refused
            const QStringList said = f.harness.messageTexts();
            QVERIFY2(said.size() == 2 && said[0].contains(QStringLiteral("受け付けませんでした")) &&
                         said[1] == QStringLiteral("1件印刷しました。"),
                     qPrintable(said.join('|')));
            QVERIFY(d.cmdPrint->isEnabled() && d.cmdExit->isEnabled() && d.ListView->isEnabled());
            f.harness.clearMessages();
            serverAdminExec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                           "WHERE application_name='PASSLOG' AND pid<>pg_backend_pid()"));
            d.chkPrint->setChecked(true);
            QVERIFY(f.harness.messageTexts().value(0).contains(QStringLiteral("接続が切れました")));
            QVERIFY(d.isVisible() && d.cmdExit->isEnabled());
        }));
        QTRY_VERIFY(f.w->TimerPolling->isActive());
        history::closeDatabase(kDatFile);
        serverAdminExec(QStringLiteral("DROP TABLE ETC_DATA, ETC_DELETED; DROP FUNCTION refuse_marks()"));
    }

    // A silent printer is reported once per record; the window cannot be
    // closed in the middle of the run.
    void silentPrinterWarnsPerRecord()
    {
        Flow f(relayWithPrinter(QStringLiteral("silent")));
        startOnHistory(f);
        QVERIFY(inPrintWindow(f, [&](DesktopPrintDialog &d) {
            selectRows(d, {1, 2});
            bool closedWhilePrinting = true;
            QTimer::singleShot(500, &d, [&] {
                QVERIFY(d.printing());
                QVERIFY(!d.cmdExit->isEnabled() && !d.cmdPrint->isEnabled());
                d.close();
                QTest::keyClick(&d, Qt::Key_Escape);
                closedWhilePrinting = !d.isVisible();
            });
            QElapsedTimer clock;
            clock.start();
            QTest::mouseClick(d.cmdPrint, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.printing(), 30000);
            QVERIFY(clock.elapsed() >= 2 * 7100);
            QVERIFY(!closedWhilePrinting);
            QVERIFY(!f.w->TimerPolling->isActive());
            QCOMPARE(f.harness.messageTexts(), QStringList({kPrinterSilent, kPrinterSilent, "0件印刷しました。"}));
            QCOMPARE(printFrames(f, 2).size(), 2);
            QCOMPARE(marks(d), QStringList({"済+", "未-", "未-"}));
        }));
        QVERIFY(f.idle());
        QCOMPARE(historyFlags(), QList<int>({1, 0, 0}));
    }

    // After a card read the window lists the staging rows; a date/time range
    // of a history view narrows the list as it narrows the grid.
    void followsTheGridsView()
    {
        Flow f(relayWithPrinter(QStringLiteral("ack")));
        f.seedHistory(QStringLiteral("0012"), 3);
        FLOW_START(f);
        QVERIFY(f.readCard());
        const int shown = f.gridRows();
        QVERIFY(shown > 0);
        QVERIFY(inPrintWindow(f, [&](DesktopPrintDialog &d) {
            QCOMPARE(d.ListView->topLevelItemCount(), shown);
            selectRows(d, {0});
            QTest::mouseClick(d.cmdPrint, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.printing(), 30000);
            QCOMPARE(marks(d).first(), QStringLiteral("済+"));
        }));
        QCOMPARE(column(QStringLiteral("SELECT count(*) FROM ETC_TEMP WHERE PRINT_FLAG=1;")),
                 QStringList{QStringLiteral("1")});

        f.selectRange(QDateTime(QDate(2024, 1, 2), QTime(0, 0)), QDateTime(QDate(2024, 1, 3), QTime(23, 59, 59)));
        f.selectListEntry(QStringLiteral("0012"));
        QVERIFY(f.clickYes(f.w->btnDBRead));
        QCOMPARE(f.gridRows(), 2);
        QVERIFY(inPrintWindow(f, [&](DesktopPrintDialog &d) {
            QCOMPARE(dates(d), QStringList({"2024/01/03", "2024/01/02"}));
        }));
        QVERIFY(f.idle());
    }
};

QTEST_MAIN(tst_desktopprint)
#include "tst_desktopprint.moc"
