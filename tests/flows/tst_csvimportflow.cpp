// CSV取込 from the window's ファイル menu: the files chosen, the summary
// asked about, and the history and card-number list after 取込 or キャンセル.

#include "FlowFixture.h"
#include "app/Cp932.h"
#include "ui/ImportOperations.h"

#include <QDir>

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
        setImportQuestionHandler([&](const QString &summary) {
            asked << summary;
            return answer;
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
};

QTEST_MAIN(tst_csvimportflow)
#include "tst_csvimportflow.moc"
