// "DB登録", "DB読込" and "DB削除" on the main window after card reads of the
// sample card from the reader emulator.

#include "DialogDriver.h"
#include "FlowFixture.h"
#include "ui/RestoreDeletedDialog.h"
#include "ui/BackupOperations.h"
#include "ui/Progress.h"

#include <QApplication>
#include <unistd.h>
#include <QMessageBox>
#include <QTimer>
#include <QTableWidget>

using namespace ui;
using namespace start;

namespace {
const QString kRegisterDone = QStringLiteral("DB登録が完了しました。\r\n14件を登録しました。");
// The completion of DB削除, with the count of rows it deleted.
QString deleteDone(int rows) { return QStringLiteral("DB削除が完了しました。\r\n%1件削除しました。").arg(rows); }
const QString kReadQuestion =
    QStringLiteral("DB登録を行わずにDB読込を行うと現在表示されている利用履歴は削除されます。よろしいですか?");
QString registerQuestion(const QString &card)
{
    return QStringLiteral("カードNO:[") + card + QStringLiteral("]でDB登録を行います。よろしいですか?");
}
// The line every deletion question ends with.
const QString kUndoNote =
    QStringLiteral("\r\n削除した利用履歴は30日間、編集メニューの「削除した利用履歴を元に戻す」で元に戻せます。");
QString stagedRows() { return column(QStringLiteral("SELECT count(*) FROM ETC_TEMP")).value(0); }
} // namespace

class tst_database : public QObject {
    Q_OBJECT

private slots:
    void registrationIsRefused_data()
    {
        QTest::addColumn<QString>("typed"); // null: list entry "0000"
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("nothing typed") << QString("") << QStringList{"カードNOが入力されていません。"};
        QTest::newRow("typed 0") << QString("0") << QStringList{"カードNO:[0000]ではDB登録できません。"};
        QTest::newRow("list entry 0000") << QString() << QStringList{"カードNO:[0000]ではDB登録できません。"};
        QTest::newRow("answered No") << QString("5678") << QStringList{registerQuestion("5678")};
        // The box takes digits only: a letter or a blank typed does not arrive.
        QTest::newRow("letter and blank typed") << QString("1 2a") << QStringList{registerQuestion("0012")};
    }
    void registrationIsRefused()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, messages);
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        if (!typed.isNull())
            f.typeCardNumber(typed);
        QCOMPARE(f.w->optCardNo[0]->isChecked(), !typed.isNull());
        f.harness.clearMessages();
        QVERIFY(f.click(f.w->btnDBEntry)); // a question is answered No
        QCOMPARE(f.harness.messageTexts(), messages);
        if (typed.isEmpty() && !typed.isNull())
            QVERIFY(f.w->txtCardInput->hasFocus());
        // Nothing changed: the card read is still shown and can be registered.
        QCOMPARE(Flow::historyRows(), 0);
        QCOMPARE(stagedRows(), QStringLiteral("14"));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(ETCカード)"));
        QVERIFY(f.w->btnDBEntry->isEnabled());
        QVERIFY(f.w->TimerPolling->isActive());
    }

    // A text that is no card number, put into the box other than by typing:
    // DB登録, DB読込 and CSV出力 are refused with a warning naming it, and
    // nothing is stored or read under it.
    void textThatIsNoCardNumberIsRefused()
    {
        Flow f;
        f.seedHistory(QStringLiteral("1234"), 3);
        FLOW_START(f);
        QVERIFY(f.readCard());
        for (const QString text : {"a'b", "12a", " 12"}) {
            const QString warning = QStringLiteral("カードNO:[") + text +
                                    QStringLiteral("]は4桁の数字ではありません。カードNOは数字で入力してください。");
            f.w->optCardNo[0]->setChecked(true);
            f.w->txtCardInput->setText(text);
            f.harness.clearMessages();
            QVERIFY(f.click(f.w->btnDBEntry));
            QCOMPARE(f.harness.messageTexts(), QStringList{warning});
            f.harness.clearMessages();
            QVERIFY(f.click(f.w->btnCSVOutput));
            QCOMPARE(f.harness.messageTexts(), QStringList{warning});
            f.harness.clearMessages();
            QVERIFY(f.clickYes(f.w->btnDBRead));
            QCOMPARE(f.harness.messageTexts(), (QStringList{kReadQuestion, warning}));
            QCOMPARE(Flow::historyRows(), 3);
            QCOMPARE(stagedRows(), QStringLiteral("14"));
            QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(ETCカード)"));
        }
    }

    void registeringTheSameReadAgainAsksFirst()
    {
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("12")));
        QCOMPARE(f.harness.messageTexts(), (QStringList{registerQuestion("0012"), kRegisterDone}));
        QCOMPARE(f.harness.messages()[0].buttons, seams::MsgButtons::YesNo);
        QCOMPARE(f.harness.messages()[0].icon, seams::MsgIcon::Information);
        QCOMPARE(f.harness.messages()[1].icon, seams::MsgIcon::Information);
        QCOMPARE(Flow::historyRows(QStringLiteral("0012")), 14);
        QCOMPARE(column(QStringLiteral("SELECT DISTINCT カードNO FROM ETC_DATA")), QStringList{"0012"});
        // Staging and grid emptied, the new number listed and selected.
        QCOMPARE(stagedRows(), QStringLiteral("0"));
        QCOMPARE(f.gridRows(), 0);
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("0件"));
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴"));
        QCOMPARE(f.cardList(), (QStringList{"0000", "0012"}));
        QVERIFY(f.w->optCardNo[1]->isChecked());
        QCOMPARE(f.w->cboCardSelect->currentText(), QStringLiteral("0012"));
        QCOMPARE(f.w->txtCardInput->text(), QString());
        QCOMPARE(f.w->view.viewType, qint16(0));
        QVERIFY(f.w->TimerPolling->isActive());

        // The same card again under the listed number (a card re-read a
        // month later): the question names what is held already; Return
        // (new ones only) registers nothing, the card read stays; すべて登録
        // registers every record twice, as the user asked.
        QVERIFY(f.readCard());
        QCOMPARE(column(QStringLiteral("SELECT DISTINCT CARD_ID FROM ETC_TEMP")), QStringList{"0012"});
        f.harness.clearMessages();
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        QVERIFY(f.clickYes(f.w->btnDBEntry));
        const QString held = QStringLiteral("読み込んだ14件のうち14件は、カードNO:[0012]に登録済みです。");
        QCOMPARE(f.harness.messageTexts(),
                 (QStringList{registerQuestion("0012"), held,
                              QStringLiteral("読み込んだ利用履歴は、すべてカードNO:[0012]に登録済みです。何も登録していません。")}));
        QCOMPARE(f.harness.messages()[1].buttonTexts,
                 (QStringList{QStringLiteral("新しい0件だけ登録"), QStringLiteral("すべて登録"), QStringLiteral("キャンセル")}));
        QCOMPARE(f.harness.messages()[1].defaultButton, std::optional(seams::MsgAnswer::Yes));
        QCOMPARE(Flow::historyRows(QStringLiteral("0012")), 14);
        QCOMPARE(stagedRows(), QStringLiteral("14"));
        // Cancel: nothing.
        f.harness.clearMessages();
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        f.harness.queueAnswer(seams::MsgAnswer::Cancel);
        QVERIFY(f.click(f.w->btnDBEntry));
        QCOMPARE(f.harness.messageTexts(), (QStringList{registerQuestion("0012"), held}));
        QCOMPARE(Flow::historyRows(QStringLiteral("0012")), 14);
        // Half of them gone from the history: the new ones only.
        historyExec(QStringLiteral("DELETE FROM ETC_DATA WHERE rowid IN (SELECT rowid FROM ETC_DATA ORDER BY rowid LIMIT 5)"));
        f.harness.clearMessages();
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        QVERIFY(f.clickYes(f.w->btnDBEntry));
        QCOMPARE(f.harness.messageTexts(),
                 (QStringList{registerQuestion("0012"), QStringLiteral("読み込んだ14件のうち9件は、カードNO:[0012]に登録済みです。"),
                              QStringLiteral("DB登録が完了しました。\r\n5件を登録しました。(登録済みの9件は登録しませんでした。)")}));
        QCOMPARE(Flow::historyRows(QStringLiteral("0012")), 14);
        QCOMPARE(Flow::historyMoments(QStringLiteral("0012")), 14);
        // すべて登録: twice.
        QVERIFY(f.readCard());
        f.harness.clearMessages();
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        f.harness.queueAnswer(seams::MsgAnswer::No);
        QVERIFY(f.click(f.w->btnDBEntry));
        QCOMPARE(f.harness.messageTexts(), (QStringList{registerQuestion("0012"), held, kRegisterDone}));
        QCOMPARE(Flow::historyRows(QStringLiteral("0012")), 28);
        QCOMPARE(Flow::historyMoments(QStringLiteral("0012")), 14);
        QCOMPARE(f.cardList(), (QStringList{"0000", "0012"}));
    }

    // A warning about the card number leaves the focus in the box the number
    // is typed or chosen in, so that typed digits land there.
    void cardNumberWarningsLeaveTheFocusInItsBox()
    {
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(QTest::qWaitForWindowActive(f.w));
        for (const QString &typed : {QString(), QStringLiteral("0000")}) {
            f.typeCardNumber(typed);
            QVERIFY(f.click(f.w->btnDBEntry));
            QCOMPARE(f.harness.messages().size(), 1);
            f.harness.clearMessages();
            QTRY_COMPARE(QApplication::focusWidget(), f.w->txtCardInput);
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("7"));
            QVERIFY(f.w->txtCardInput->text().endsWith(QLatin1Char('7')));
        }
        f.selectListEntry(QStringLiteral("0000"));
        f.w->btnExit->setFocus();
        QVERIFY(f.click(f.w->btnDBEntry));
        QVERIFY2(f.harness.messageTexts() == QStringList{QStringLiteral("カードNO:[0000]ではDB登録できません。")},
                 qPrintable(f.harness.messageTexts().join('|')));
        QTRY_COMPARE(QApplication::focusWidget(), f.w->cboCardSelect);
        QCOMPARE(Flow::historyRows(), 0);
        // With a real message box, whose window gives the focus back when it closes.
        seams::setMessageBoxHandler([](const seams::Message &m) {
            QMessageBox box(QApplication::activeWindow());
            box.setText(m.text);
            QTimer::singleShot(50, &box, [&box] { QTest::keyClick(&box, Qt::Key_Return); });
            box.exec();
            return seams::MsgAnswer::Ok;
        });
        f.typeCardNumber(QString());
        f.w->btnExit->setFocus();
        QVERIFY(f.click(f.w->btnDBEntry));
        f.w->activateWindow(); // as the window system does once the box is gone
        QVERIFY(QTest::qWaitForWindowActive(f.w));
        QTRY_COMPARE(QApplication::focusWidget(), f.w->txtCardInput);
        // F6 goes to the typed card number from anywhere.
        f.selectListEntry(QStringLiteral("0000"));
        f.w->btnDBRead->setFocus();
        QTest::keyClick(f.w, Qt::Key_F6);
        QTRY_COMPARE(QApplication::focusWidget(), f.w->txtCardInput);
        QVERIFY(f.w->optCardNo[0]->isChecked());
    }

    // ファイル → バックアップ… and バックアップから戻す…: a copy made from the
    // window, not over a file that is no copy; put back while the window
    // runs (it lets go of the history for that), the former kept. Both show
    // their progress, and a copy stopped by the user leaves nothing.
    void backupAndRestoreFromTheWindow()
    {
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("12")));
        QMap<QString, QList<qint64>> progress; // label: the pages done
        bool stopBackup = true;
        setProgressHandler([&](const QString &label, qint64 done, qint64) {
            progress[label] << done;
            return !(stopBackup && label == QStringLiteral("バックアップ中…"));
        });
        const auto noProgress = qScopeGuard([] { setProgressHandler({}); });
        const QString copy = QDir(f.harness.programFolder()).filePath(QStringLiteral("経理/b.sqlite"));
        QVERIFY(QDir().mkpath(QFileInfo(copy).absolutePath()));
        f.harness.clearMessages();
        f.harness.queueSaveFile(copy);
        f.w->mnuBackup->trigger();
        QCOMPARE(f.harness.messageTexts(), QStringList{});
        QCOMPARE(QDir(QFileInfo(copy).absolutePath()).entryList(QDir::Files), QStringList{});
        stopBackup = false;
        progress.clear();
        f.harness.queueSaveFile(copy);
        f.w->mnuBackup->trigger();
        QCOMPARE(f.harness.messageTexts(), QStringList{QStringLiteral("利用履歴を %1 に保存しました。").arg(QDir::toNativeSeparators(copy))});
        QVERIFY(progress.value(QStringLiteral("バックアップ中…")).value(0) > 0);
        // Not over a file that is no copy, nor over the program's own files.
        const QString memo = QDir(f.harness.programFolder()).filePath(QStringLiteral("memo.txt"));
        QFile memoFile(memo);
        QVERIFY(memoFile.open(QIODevice::WriteOnly) && memoFile.write("memo") == 4);
        memoFile.close();
        for (const auto &[target, said] : {std::pair{memo, QStringLiteral("バックアップではないため")},
                                           std::pair{f.harness.settingsFile(), QStringLiteral("このプログラムが使っているファイル")}}) {
            f.harness.clearMessages();
            f.harness.queueSaveFile(target);
            f.w->mnuBackup->trigger();
            QVERIFY2(f.harness.messageTexts().size() == 1 && f.harness.messageTexts()[0].contains(said),
                     qPrintable(f.harness.messageTexts().join('|')));
        }
        QVERIFY(memoFile.open(QIODevice::ReadOnly));
        QCOMPARE(memoFile.readAll(), QByteArray("memo"));
        memoFile.close();
        // The history itself, by its name or a hard link, is refused before any question.
        const QString historyFile = history::databasePath(kDatFile);
        const QString linked = QDir(f.harness.programFolder()).filePath(QStringLiteral("link.sqlite"));
        QVERIFY(::link(QFile::encodeName(historyFile).constData(), QFile::encodeName(linked).constData()) == 0);
        for (const QString &target : {historyFile, linked}) {
            f.harness.clearMessages();
            f.harness.queueSaveFile(target);
            f.w->mnuBackup->trigger();
            QCOMPARE(f.harness.messageTexts().size(), 1);
            QVERIFY2(f.harness.messageTexts()[0].contains(QStringLiteral("利用履歴ファイルそのもの")),
                     qPrintable(f.harness.messageTexts()[0]));
        }
        QVERIFY(QFile::remove(linked));

        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("34")));
        QCOMPARE(Flow::historyRows(), 28);
        setOpenBackupFileHandler([&](const QString &) { return copy; });
        const auto reset = qScopeGuard([] { setOpenBackupFileHandler({}); });
        f.harness.clearMessages();
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        f.w->mnuRestoreBackup->trigger();
        const QStringList texts = f.harness.messageTexts();
        QVERIFY2(texts.size() == 2 && texts[1].contains(QStringLiteral("を利用履歴に戻しました。")) &&
                     texts[1].contains(QStringLiteral("ETC_DAT-before-restore-")),
                 qPrintable(texts.join('|')));
        QCOMPARE(Flow::historyRows(), 14);
        QCOMPARE(f.cardList(), (QStringList{"0000", "0012"}));
        const QList<qint64> restoring = progress.value(QStringLiteral("利用履歴を戻しています…"));
        QVERIFY(!restoring.isEmpty() && restoring.last() > 0);
        QVERIFY(f.idle());
    }

    void registrationThatRegistersNothingKeepsTheCardRead()
    {
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        const QString states = f.commandStates();
        // The store refuses every row.
        historyExec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON ETC_DATA "
                                   "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        QVERIFY(f.registerAs(QStringLiteral("12")));
        QCOMPARE(f.harness.messageTexts().size(), 2);
        QCOMPARE(f.harness.messages()[0].text, registerQuestion("0012"));
        QVERIFY(f.harness.messages()[1].text.startsWith(QStringLiteral("DB登録できませんでした。")));
        QVERIFY(f.harness.messages()[1].text.contains(QStringLiteral("refused")));
        QCOMPARE(f.harness.messages()[1].icon, seams::MsgIcon::Warning);
        QCOMPARE(Flow::historyRows(), 0);
        // The card read is still staged and shown, and can be registered once the store takes it.
        QCOMPARE(stagedRows(), QStringLiteral("14"));
        QCOMPARE(f.gridRows(), 14);
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(ETCカード)"));
        QCOMPARE(f.commandStates(), states);
        QVERIFY(f.idle());

        historyExec(QStringLiteral("DROP TRIGGER refuse"));
        f.harness.clearMessages();
        QVERIFY(f.clickYes(f.w->btnDBEntry));
        QCOMPARE(f.harness.messageTexts(), (QStringList{registerQuestion("0012"), kRegisterDone}));
        QCOMPARE(Flow::historyRows(QStringLiteral("0012")), 14);
        QCOMPARE(stagedRows(), QStringLiteral("0"));
    }

    void databaseReadAsksOnlyOverUnregisteredCardData()
    {
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("12")));
        QVERIFY(f.readCard());

        // No keeps the unregistered card read on screen.
        f.harness.clearMessages();
        QVERIFY(f.click(f.w->btnDBRead));
        QCOMPARE(f.harness.messageTexts(), QStringList{kReadQuestion});
        QCOMPARE(f.harness.messages()[0].buttons, seams::MsgButtons::YesNo);
        QCOMPARE(f.harness.messages()[0].defaultButton, std::optional(seams::MsgAnswer::No)); // Return keeps the read
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(ETCカード)"));
        QCOMPARE(f.w->view.viewType, qint16(1));
        QVERIFY(f.w->btnDBEntry->isEnabled());

        // Yes shows the history of the listed card; the staging stays as it was.
        f.harness.clearMessages();
        QVERIFY(f.clickYes(f.w->btnDBRead));
        QCOMPARE(f.harness.messageTexts(), QStringList{kReadQuestion});
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(データベース)"));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
        QCOMPARE(f.w->lblSumValue->text(), QStringLiteral("31,934円"));
        QCOMPARE(f.gridColumn(QStringLiteral("カードNO")), QStringList(14, QStringLiteral("0012")));
        QCOMPARE(f.w->view.viewType, qint16(2));
        QCOMPARE(stagedRows(), QStringLiteral("14"));

        // Over a database view another read does not ask.
        f.harness.clearMessages();
        QVERIFY(f.click(f.w->btnDBRead));
        QCOMPARE(f.harness.messageTexts(), QStringList());
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
    }

    void deleteOvertakenByAnotherWriterAsksAgain()
    {
        // Rows of the shown card stored by another program after DB読込: the
        // first Yes deletes nothing, the grid shows the rows as they are now,
        // and the question comes again with the new count.
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("12")));
        f.selectListEntry(QStringLiteral("0012"));
        QVERIFY(f.click(f.w->btnDBRead));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("another"));
            other.setDatabaseName(history::databasePath(kDatFile));
            QVERIFY(other.open());
            QSqlQuery q(other);
            QVERIFY(q.exec("INSERT INTO ETC_DATA (CARD_ID,カードNO,ご利用日,通過時間,DATE_TIME,通行料金) SELECT "
                           "CARD_ID,カードNO,ご利用日,'23:59:59',DATE_TIME,通行料金 FROM ETC_DATA LIMIT 3"));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("another"));
        f.harness.clearMessages();
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        QVERIFY(f.clickYes(f.w->btnDBDelete));
        const QStringList texts = f.harness.messageTexts();
        QCOMPARE(texts.size(), 4);
        QVERIFY(texts[0].contains(QStringLiteral("14件")));
        QVERIFY(texts[1].startsWith(QStringLiteral("表示した後に他のPCで利用履歴が変更されたため")));
        QVERIFY(texts[2].contains(QStringLiteral("17件")));
        QCOMPARE(texts[3], deleteDone(17));
        QCOMPARE(Flow::historyRows(QStringLiteral("0012")), 0);
    }

    void deleteRemovesExactlyTheRowsShown()
    {
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("12")));
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("34")));
        QCOMPARE(f.cardList(), (QStringList{"0000", "0012", "0034"}));

        // Card 0012 in April: four rows.
        f.selectListEntry(QStringLiteral("0012"));
        f.selectRange(QDateTime(QDate(2024, 4, 1), QTime(0, 0)), QDateTime(QDate(2024, 4, 30), QTime(23, 59, 59)));
        QVERIFY(f.click(f.w->btnDBRead));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("4件"));
        QCOMPARE(Flow::historyRows(QStringLiteral("0012"), QStringLiteral("2024/04")), 4);

        // The conditions change before the delete: another card, all records.
        f.selectAllRecords();
        f.typeCardNumber(QStringLiteral("34"));
        f.harness.clearMessages();
        QVERIFY(f.click(f.w->btnDBDelete)); // answered No
        const QString question =
            QStringLiteral("現在表示されている4件の利用履歴をデータベースから削除します。よろしいですか?") + kUndoNote;
        QCOMPARE(f.harness.messageTexts(), QStringList{question});
        QCOMPARE(Flow::historyRows(), 28);
        // Typed entry gives way to the list's "0000" even on No.
        QVERIFY(f.w->optCardNo[1]->isChecked());
        QCOMPARE(f.w->cboCardSelect->currentText(), QStringLiteral("0000"));

        f.typeCardNumber(QStringLiteral("34"));
        f.harness.clearMessages();
        QVERIFY(f.clickYes(f.w->btnDBDelete));
        QCOMPARE(f.harness.messageTexts(), (QStringList{question, deleteDone(4)}));
        QCOMPARE(Flow::historyRows(QStringLiteral("0034")), 14);
        QCOMPARE(Flow::historyRows(QStringLiteral("0012")), 10);
        QCOMPARE(Flow::historyRows(QStringLiteral("0012"), QStringLiteral("2024/04")), 0);
        QCOMPARE(f.gridRows(), 0);
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("0件"));
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴"));
        QCOMPARE(f.w->view.viewType, qint16(0));
        QVERIFY(f.w->btnDBRead->isEnabled());
        QCOMPARE(f.cardList(), (QStringList{"0000", "0012", "0034"}));

        // All cards, all records: the last rows go and "DB読込" with them.
        f.selectListEntry(QStringLiteral("0000"));
        QVERIFY(f.click(f.w->btnDBRead));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("24件"));
        f.harness.clearMessages();
        QVERIFY(f.clickYes(f.w->btnDBDelete));
        QCOMPARE(f.harness.messageTexts().value(1), deleteDone(24));
        QCOMPARE(Flow::historyRows(), 0);
        QVERIFY(!f.w->btnDBRead->isEnabled());
        QCOMPARE(f.cardList(), QStringList{"0000"});
    }

    void restoreWindowPutsADeletionBack()
    {
        // 編集 → 削除した利用履歴を元に戻す lists the deletions newest first
        // (time, PC, user, rows, cards, period); 元に戻す asks, puts the
        // chosen one back whole and says how many rows came back; the card
        // list shows the card again and the window lists what is left.
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("12")));
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("34")));
        const QStringList before = column(QStringLiteral("SELECT ROW_UID||カードNO||DATE_TIME FROM ETC_DATA ORDER BY ROW_UID"));
        for (const char *card : {"0012", "0034"}) {
            f.selectListEntry(QString::fromLatin1(card));
            QVERIFY(f.click(f.w->btnDBRead));
            QVERIFY(f.clickYes(f.w->btnDBDelete));
            f.harness.clearMessages();
        }
        QCOMPARE(Flow::historyRows(), 0);
        QCOMPARE(f.cardList(), QStringList{"0000"});
        QVERIFY(f.w->mnuRestoreDeleted->isEnabled());
        QCOMPARE(f.w->mnuRestoreDeleted->text(), QStringLiteral("削除した利用履歴を元に戻す"));

        QStringList listed;
        QStringList after;
        DialogDriver<RestoreDeletedDialog> driver([&](RestoreDeletedDialog &d) {
            for (int r = 0; r < d.grdDeletions->rowCount(); ++r) {
                QStringList fields;
                for (int c = 0; c < d.grdDeletions->columnCount(); ++c)
                    fields << d.grdDeletions->item(r, c)->text();
                listed << fields.join('|');
            }
            // Tab leaves the list for the buttons, which have mnemonics.
            d.grdDeletions->setFocus();
            QTest::keyClick(d.grdDeletions, Qt::Key_Tab);
            QVERIFY(!d.grdDeletions->hasFocus());
            QVERIFY(d.cmdRestore->text().contains(QStringLiteral("(&R)")) && d.cmdClose->text().contains(QStringLiteral("(&C)")));
            d.grdDeletions->selectRow(1); // the first deletion, of card 0012
            f.harness.queueAnswer(seams::MsgAnswer::No);
            QTest::mouseClick(d.cmdRestore, Qt::LeftButton);
            QCOMPARE(d.grdDeletions->rowCount(), 2);
            f.harness.queueAnswer(seams::MsgAnswer::Yes);
            QTest::mouseClick(d.cmdRestore, Qt::LeftButton);
            for (int r = 0; r < d.grdDeletions->rowCount(); ++r)
                after << d.grdDeletions->item(r, 4)->text();
        });
        f.w->mnuRestoreDeleted->trigger();
        QCOMPARE(driver.opened, 1);
        QCOMPARE(listed.size(), 2);
        const QString at = f.harness.now().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        QVERIFY2(listed[0].startsWith(at + "|") && listed[0].contains("|14件|0034|"), qPrintable(listed.join('\n')));
        QVERIFY2(listed[1].contains("|14件|0012|") && listed[1].contains(" ～ "), qPrintable(listed[1]));
        const QStringList texts = f.harness.messageTexts();
        QCOMPARE(texts.size(), 3);
        QVERIFY2(texts[0].contains("14件の利用履歴(カードNO:0012)を元に戻します。よろしいですか?"), qPrintable(texts[0]));
        QCOMPARE(texts[2], QStringLiteral("14件の利用履歴を元に戻しました。"));
        QCOMPARE(after, QStringList{"0034"});
        QCOMPARE(Flow::historyRows(QStringLiteral("0012")), 14);
        QCOMPARE(f.cardList(), (QStringList{"0000", "0012"}));
        QVERIFY(f.w->btnDBRead->isEnabled());

        // The other one too, while the grid shows the history of all cards:
        // the grid shows the rows back, the history is as it was, and
        // nothing is left to list.
        f.selectListEntry(QStringLiteral("0000"));
        QVERIFY(f.click(f.w->btnDBRead));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
        f.harness.clearMessages();
        QString empty;
        DialogDriver<RestoreDeletedDialog> second([&](RestoreDeletedDialog &d) {
            f.harness.queueAnswer(seams::MsgAnswer::Yes);
            QTest::mouseClick(d.cmdRestore, Qt::LeftButton);
            empty = d.lblText->text();
            QVERIFY(!d.cmdRestore->isEnabled());
        });
        f.w->mnuRestoreDeleted->trigger();
        QCOMPARE(f.harness.messageTexts().value(1), QStringLiteral("14件の利用履歴を元に戻しました。"));
        QVERIFY2(empty.contains("元に戻せる削除はありません"), qPrintable(empty));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("28件"));
        QCOMPARE(f.gridRows(), 28);
        QCOMPARE(column(QStringLiteral("SELECT ROW_UID||カードNO||DATE_TIME FROM ETC_DATA ORDER BY ROW_UID")), before);
    }

    // With PASSLOG_RESTORE_SCREENSHOT naming a file: the restore window with
    // three deletions listed, saved there as a PNG.
    void restoreWindowScreenshot()
    {
        const QString file = qEnvironmentVariable("PASSLOG_RESTORE_SCREENSHOT");
        if (file.isEmpty())
            QSKIP("PASSLOG_RESTORE_SCREENSHOT names no file");
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("12")));
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("34")));
        const QDateTime start(QDate(2026, 12, 1), QTime(9, 12, 40));
        f.harness.setNow(start);
        f.selectListEntry(QStringLiteral("0012"));
        f.selectRange(QDateTime(QDate(2024, 4, 1), QTime(0, 0)), QDateTime(QDate(2024, 4, 30), QTime(23, 59, 59)));
        QVERIFY(f.click(f.w->btnDBRead));
        QVERIFY(f.clickYes(f.w->btnDBDelete));
        f.harness.setNow(start.addDays(3).addSecs(3600 * 5 + 517));
        f.selectAllRecords();
        f.selectListEntry(QStringLiteral("0034"));
        QVERIFY(f.click(f.w->btnDBRead));
        QVERIFY(f.clickYes(f.w->btnDBDelete));
        f.harness.setNow(start.addDays(6).addSecs(3600 * 2 + 95));
        f.selectListEntry(QStringLiteral("0000"));
        QVERIFY(f.click(f.w->btnDBRead));
        QVERIFY(f.clickYes(f.w->btnDBDelete));
        bool saved = false;
        DialogDriver<RestoreDeletedDialog> driver([&](RestoreDeletedDialog &d) {
            QCOMPARE(d.grdDeletions->rowCount(), 3);
            QTest::qWait(300);
            saved = d.grab().save(file);
        });
        f.w->mnuRestoreDeleted->trigger();
        QVERIFY(saved);
    }
};

QTEST_MAIN(tst_database)
#include "tst_database.moc"
