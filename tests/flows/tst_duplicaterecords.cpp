// Duplicate records from the main window: the display after a database read
// of all cards, the deletion dialog, and what both leave in the window.

#include "DialogDriver.h"
#include "FlowFixture.h"
#include "ui/DeleteRowsDialog.h"

using namespace ui;
using namespace start;

class tst_duplicaterecords : public QObject {
    Q_OBJECT

    static void seedPassage(const QString &card, const QString &date, const QString &toll)
    {
        history::openDatabase(kDatFile);
        addHistoryRow(card, date, QStringLiteral("08:00:00"), toll);
    }

    // Reads all cards from the database and runs 重複レコード表示 with Yes;
    // typed: the user clicks into the card-number box in between.
    static void showDuplicates(Flow &f, bool typed = false)
    {
        QVERIFY(Flow::click(f.w->btnDBRead)); // no card read shown: no question
        QVERIFY(f.w->mnuRecordCheck->isEnabled());
        if (typed) {
            f.typeCardNumber(QString());
            QVERIFY(f.w->optCardNo[0]->isChecked());
        }
        f.harness.clearMessages();
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        f.w->mnuRecordCheck->trigger();
    }

    static QStringList comboItems(QComboBox *box)
    {
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    }

private slots:
    void showAndDeleteForOneCard()
    {
        Flow f;
        seedPassage("2222", "2024/03/01", "1200円");
        seedPassage("1111", "2024/03/01", "1200円");
        seedPassage("1111", "2024/03/05", "900円"); // no twin
        seedPassage("3333", "2024/02/01", "800円");
        seedPassage("3333", "2024/02/01", "800円");
        seedPassage("3333", "2024/02/01", "800円");
        FLOW_START(f);
        showDuplicates(f, true);
        QCOMPARE(f.harness.messageTexts(),
                 QStringList{"現在表示されている6件の利用履歴からカード番号以外が同じ項目を絞り込みます。よろしいですか?"});
        // Copies stand together: newest passage first, then by card number.
        QCOMPARE(f.gridColumn("カードNO"), (QStringList{"1111", "2222", "3333", "3333", "3333"}));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("5件"));
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(データベース内の重複レコード表示)"));
        QCOMPARE(f.commandStates(), QStringLiteral("1001000001"));
        QVERIFY(!f.w->optSelectMode[1]->isEnabled() && !f.w->cboCardSelect->isEnabled());
        QVERIFY(f.w->optCardNo[1]->isChecked());
        QCOMPARE(f.w->cboCardSelect->currentText(), QStringLiteral("0000"));

        QStringList offered;
        DialogDriver<DeleteRowsDialog> driver([&](DeleteRowsDialog &d) {
            offered = comboItems(d.cboCardNo);
            d.cboCardNo->setCurrentIndex(d.cboCardNo->findText("1111"));
            f.harness.clearMessages();
            f.harness.queueAnswer(seams::MsgAnswer::No); // first thoughts: no
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
            QVERIFY(d.isVisible());
            f.harness.queueAnswer(seams::MsgAnswer::Yes);
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
        });
        f.w->mnuRecordDelete->trigger();
        QCOMPARE(driver.opened, 1);
        QVERIFY(!driver.stayedOpen);
        QCOMPARE(offered, (QStringList{"1111", "2222", "3333"}));
        QCOMPARE(f.harness.messageTexts(),
                 (QStringList{"カードNO:[1111]に該当する重複レコードを全て削除します。よろしいですか?"
                              "\r\n削除した利用履歴は30日間、編集メニューの「削除した利用履歴を元に戻す」で元に戻せます。",
                              "カードNO:[1111]に該当する重複レコードを全て削除します。よろしいですか?"
                              "\r\n削除した利用履歴は30日間、編集メニューの「削除した利用履歴を元に戻す」で元に戻せます。",
                              "重複レコード削除が完了しました。\r\n1件削除しました。"}));
        QCOMPARE(Flow::historyRows("1111"), 1);
        QCOMPARE(Flow::historyRows("2222"), 1);
        QCOMPARE(f.gridRows(), 0);
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("0件"));
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴"));
        QCOMPARE(f.commandStates(), QStringLiteral("1001000000"));
        QVERIFY(f.idle());

        // Three copies under one card: one stays.
        showDuplicates(f);
        QCOMPARE(f.gridColumn("カードNO"), (QStringList{"3333", "3333", "3333"}));
        DialogDriver<DeleteRowsDialog> again([&](DeleteRowsDialog &d) {
            QCOMPARE(comboItems(d.cboCardNo), QStringList{"3333"});
            f.harness.queueAnswer(seams::MsgAnswer::Yes);
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
        });
        f.w->mnuRecordDelete->trigger();
        QCOMPARE(Flow::historyRows("3333"), 1);
        QCOMPARE(Flow::historyRows(), 3);
        QCOMPARE(f.cardList(), (QStringList{"0000", "1111", "2222", "3333"}));
    }

    void nothingToChooseDeletesNothing()
    {
        Flow f;
        seedPassage("1111", "2024/03/01", "1200円");
        FLOW_START(f);
        QVERIFY(f.readCard()); // an unregistered card read in the staging table
        const int staged = f.gridRows();
        QVERIFY(staged > 0);
        DialogDriver<DeleteRowsDialog> driver([&](DeleteRowsDialog &d) {
            QCOMPARE(d.cboCardNo->count(), 0);
            f.harness.clearMessages();
            f.harness.queueAnswer(seams::MsgAnswer::Yes);
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
        });
        f.w->mnuRecordDelete->setEnabled(true); // as a duplicate display leaves it
        f.w->mnuRecordDelete->trigger();
        QVERIFY(driver.stayedOpen);
        QVERIFY(f.harness.messageTexts().isEmpty());
        QCOMPARE(column("SELECT count(*) FROM ETC_TEMP;").value(0).toInt(), staged);
        QCOMPARE(f.gridRows(), staged);
        QCOMPARE(Flow::historyRows(), 1);
    }

    void noDuplicatesAndTheRangeOfTheLastRead()
    {
        Flow f;
        seedPassage("1111", "2024/01/10", "1200円");
        seedPassage("2222", "2024/01/10", "1200円");
        seedPassage("1111", "2024/03/10", "500円");
        seedPassage("4444", "2024/03/10", "500円");
        seedPassage("1111", "2024/03/11", "700円");
        FLOW_START(f);
        f.selectRange(QDateTime(QDate(2024, 3, 1), QTime(0, 0)), QDateTime(QDate(2024, 3, 31), QTime(23, 59, 59)));
        showDuplicates(f);
        QCOMPARE(f.gridColumn("カードNO"), (QStringList{"1111", "4444"}));
        QStringList offered;
        DialogDriver<DeleteRowsDialog> driver([&](DeleteRowsDialog &d) {
            offered = comboItems(d.cboCardNo);
            QTest::mouseClick(d.btnCancel, Qt::LeftButton);
        });
        f.w->mnuRecordDelete->trigger();
        QCOMPARE(offered, (QStringList{"1111", "4444"}));
        QVERIFY(!driver.stayedOpen);
        QCOMPARE(Flow::historyRows(), 5);
        QVERIFY(f.w->mnuRecordDelete->isEnabled()); // cancelled: the duplicate view goes on

        // A range without duplicates.
        QVERIFY(Flow::click(f.w->btnDBRead)); // unlocks the conditions
        f.selectRange(QDateTime(QDate(2024, 3, 11), QTime(0, 0)), QDateTime(QDate(2024, 3, 31), QTime(23, 59, 59)));
        showDuplicates(f);
        QCOMPARE(f.harness.messageTexts().value(1), QStringLiteral("重複レコードはありません。"));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("0件"));
        QCOMPARE(f.gridRows(), 0);
        QCOMPARE(f.commandStates(), QStringLiteral("1001000000"));
        QVERIFY(f.w->optSelectMode[1]->isEnabled());
    }
};

QTEST_MAIN(tst_duplicaterecords)
#include "tst_duplicaterecords.moc"
