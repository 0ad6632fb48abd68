// CSV取込 from the window's ファイル menu: the files chosen, the summary
// asked about, and the history and card-number list after 取込 or キャンセル.

#include "FlowFixture.h"
#include "app/Cp932.h"
#include "app/Common.h"
#include "ui/ImportOperations.h"

#include "reports/CsvImport.h"

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QScreen>
#include <QTableWidget>
#include <memory>

using namespace ui;
using namespace start;

class tst_csvimportflow : public QObject {
    Q_OBJECT

private slots:
    void importFromTheMenu()
    {
        Flow f;
        f.seedHistory(QStringLiteral("1234"), 1);
        FLOW_START(f);
        const QString file = QDir(f.harness.programFolder()).filePath("old.csv");
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            const QString line = QStringLiteral("\"%1\",\"%2\",\"10:00:00\",1,1320,\"円\",\"普通車\",101,\"01001\",104,"
                                                "\"01005\",\"中日本\",\"東名高速道路\",\"東京\",\"中日本\","
                                                "\"東名高速道路\",\"厚木\"\r\n");
            out.write(cp932::encode(line.arg("5678", "2023/04/01") + line.arg("5678", "2023/04/02")));
        }
        QStringList asked;
        bool answer = false;
        setOpenCsvFilesHandler([&](const QString &) { return QStringList{file}; });
        setImportQuestionHandler([&](const QString &summary, const QString &) {
            asked << summary;
            return ImportChoice{answer, QString()};
        });

        // キャンセル: nothing changes.
        f.harness.clearMessages();
        f.w->mnuCSVImport->trigger();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(QStringLiteral("利用履歴: 2件 (新規 2件 / 登録済み 0件)")), qPrintable(asked[0]));
        QVERIFY(asked[0].contains(QStringLiteral("5678: 2件 (新規 2件)")));
        QVERIFY(asked[0].contains(QStringLiteral("期間: 2023/04/01-10:00:00 ～ 2023/04/02-10:00:00")));
        QCOMPARE(Flow::historyRows(), 1);
        QCOMPARE(f.harness.messageTexts(), QStringList());

        // 取込: the rows are there, the new card is listed.
        answer = true;
        f.w->mnuCSVImport->trigger();
        QCOMPARE(f.harness.messageTexts(), QStringList{"CSV取込が完了しました。2件の利用履歴を取り込みました。"});
        QCOMPARE(Flow::historyRows(QStringLiteral("5678")), 2);
        QCOMPARE(f.cardList(), (QStringList{"0000", "1234", "5678"}));

        // Again: nothing new, said without asking.
        f.harness.clearMessages();
        f.w->mnuCSVImport->trigger();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(f.harness.messageTexts().size(), 1);
        QVERIFY(f.harness.messageTexts()[0].endsWith(QStringLiteral("新しい利用履歴はありません。何も取り込みません。")));
        QCOMPARE(Flow::historyRows(), 3);
        setOpenCsvFilesHandler({});
        setImportQuestionHandler({});
    }

    // Each line keeps its own card number, also with a card chosen in the
    // window; filing all lines under one card is the user's choice in the
    // summary, checked again under it. The summary window fits the screen
    // with 5,000 cards; the monthly totals' CSV file is named as such.
    void linesKeepTheirCardsUnlessOneIsChosen()
    {
        Flow f;
        f.seedHistory(QStringLiteral("1234"), 1);
        FLOW_START(f);
        f.selectListEntry(QStringLiteral("1234"));
        const QString file = QDir(f.harness.programFolder()).filePath("cards.csv");
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            const QString line = QStringLiteral("\"%1\",\"2023/04/01\",\"10:00:00\",1,1320,\"円\",\"普通車\",101,\"01001\",104,"
                                                "\"01005\",\"中日本\",\"東名高速道路\",\"東京\",\"中日本\","
                                                "\"東名高速道路\",\"厚木\"\r\n");
            out.write(cp932::encode(line.arg("5678") + line.arg("9012") + line.arg("3456")));
        }
        setOpenCsvFilesHandler([&](const QString &) { return QStringList{file}; });
        QStringList oneCards;
        QString chosen;
        setImportQuestionHandler([&](const QString &, const QString &oneCard) {
            oneCards << oneCard;
            return ImportChoice{true, chosen};
        });
        f.w->mnuCSVImport->trigger();
        QCOMPARE(oneCards, QStringList{QString()});
        QCOMPARE(f.cardList(), (QStringList{"0000", "1234", "3456", "5678", "9012"}));

        const QString again = QDir(f.harness.programFolder()).filePath("again.csv");
        QFile::copy(file, again);
        { // another time of day: new passages
            QFile out(again);
            QVERIFY(out.open(QIODevice::ReadWrite));
            QByteArray bytes = out.readAll().replace("10:00:00", "11:00:00");
            out.seek(0);
            out.write(bytes);
        }
        QString startedIn; // the import dialog starts where the last import was taken from
        setOpenCsvFilesHandler([&](const QString &folder) {
            startedIn = folder;
            return QStringList{again};
        });
        chosen = QStringLiteral("7777");
        f.w->mnuCSVImport->trigger();
        QCOMPARE(oneCards, (QStringList{QString(), QString(), "7777"}));
        QCOMPARE(Flow::historyRows(QStringLiteral("7777")), 3);
        QCOMPARE(startedIn, app::withTrailingSeparator(QDir::toNativeSeparators(f.harness.programFolder())));

        // The monthly totals' file: named, nothing imported.
        const QString totals = QDir(f.harness.programFolder()).filePath("totals.csv");
        {
            QFile out(totals);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(cp932::encode(QStringLiteral("カードNO,年月,件数,合計金額,円以外件数\r\n\"1234\",\"2024/05\",3,3960,0\r\n")));
        }
        setOpenCsvFilesHandler([&](const QString &) { return QStringList{totals}; });
        f.harness.clearMessages();
        f.w->mnuCSVImport->trigger();
        QCOMPARE(f.harness.messageTexts().size(), 1);
        QVERIFY2(f.harness.messageTexts()[0].contains(QStringLiteral("月別集計のCSVファイルです")),
                 qPrintable(f.harness.messageTexts()[0]));
        setOpenCsvFilesHandler({});
        setImportQuestionHandler({});

        reports::CsvImportSummary many;
        for (int i = 0; i < 5000; ++i)
            many.cards.insert(QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')), {1, 1});
        many.lines = many.added = 5000;
        std::unique_ptr<QDialog> box(importSummaryDialog(many, QString(), QStringLiteral("1234")));
        box->show();
        const QRect room = box->screen()->availableGeometry();
        QVERIFY2(box->frameGeometry().height() <= room.height() && box->frameGeometry().width() <= room.width(),
                 qPrintable(QStringLiteral("%1x%2").arg(box->frameGeometry().width()).arg(box->frameGeometry().height())));
        QVERIFY(!box->findChild<QCheckBox *>(QStringLiteral("chkOneCard"))->isChecked());
        QCOMPARE(box->findChild<QTableWidget *>(QStringLiteral("grdImportCards"))->rowCount(), 5000);
    }
};

QTEST_MAIN(tst_csvimportflow)
#include "tst_csvimportflow.moc"
