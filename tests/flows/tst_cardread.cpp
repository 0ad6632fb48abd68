// "カード読込" and "画面消去" on the main window with the reader emulator:
// the sample card shown with master names and totals, the date/time range,
// a card with nothing to show, a reader that stops answering mid-read.

#include "FlowFixture.h"
#include "decode/CardTable.h"
#include "reader/CardReader.h"
#include "reader/ReaderLink.h"

using namespace ui;
using namespace start;

class tst_cardread : public QObject {
    Q_OBJECT

private slots:
    void sampleCardIsShownWithMasterNames()
    {
        Flow f;
        FLOW_START(f);
        // While records arrive the window is locked and polling stopped.
        QStringList during;
        QObject::connect(f.w->ProgressBar, &QProgressBar::valueChanged, f.w, [&](int value) {
            if (value == 1)
                during << f.commandStates() << f.w->fraHFlexGrid->title()
                       << QString::number(f.w->ProgressBar->isVisible())
                       << QString::number(f.w->TimerPolling->isActive())
                       << QString::number(f.w->txtCardInput->isEnabled() || f.w->optSelectMode[1]->isEnabled())
                       << QString::number(f.w->mnuEdit->isEnabled() || f.w->mnuConfig->isEnabled() ||
                                          f.w->mnuCSVImport->isEnabled());
        });
        QVERIFY(f.readCard());
        QCOMPARE(during, (QStringList{"0000000000", "利用履歴", "1", "0", "0", "0"}));
        QCOMPARE(f.harness.messageTexts(), QStringList());
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(ETCカード)"));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
        // 0392 amounts, plus 12 x 100 (2392) and 12345 x 0.1 = 1234 (4392, ties to even); the
        // window groups the digits.
        QCOMPARE(f.w->lblSumValue->text(), QStringLiteral("31,934円"));
        QCOMPARE(f.w->lblCardValue->text(), QStringLiteral("カード正常"));
        QCOMPARE(f.gridRows(), 14);
        const QStringList in = f.gridColumn(QStringLiteral("入口料金所"));
        const QStringList out = f.gridColumn(QStringLiteral("出口料金所"));
        QCOMPARE(in.size(), 14);
        // Newest first: 2024/05/20 from 東京 (01001) to 名古屋 (0100B).
        QCOMPARE(f.gridColumn(QStringLiteral("ご利用日")).first(), QStringLiteral("2024/05/20"));
        QCOMPARE(in.first(), QStringLiteral("東名高速道路 東京"));
        QCOMPARE(out.first(), QStringLiteral("東名高速道路 名古屋"));
        QCOMPARE(f.gridColumn(QStringLiteral("ご利用日")).last(), QStringLiteral("2024/03/10"));
        QVERIFY(f.idle());
        QCOMPARE(f.w->view.viewType, qint16(1));
        // Every staged row carries the card-number rule's "0000" (nothing typed).
        QCOMPARE(column(QStringLiteral("SELECT DISTINCT CARD_ID FROM ETC_TEMP")), QStringList{"0000"});
        QVERIFY(f.w->optCardNo[1]->isChecked());
        QCOMPARE(f.w->cboCardSelect->currentText(), QStringLiteral("0000"));

        // An end before the start: only the warning, the card read stays.
        f.selectRange(QDateTime(QDate(2024, 5, 1), QTime(0, 0, 1)), QDateTime(QDate(2024, 5, 1), QTime(0, 0, 0)));
        QVERIFY(f.readCard());
        QCOMPARE(f.harness.messageTexts(),
                 QStringList{QStringLiteral("開始日時より前の日時を終了日時に設定することは出来ません。")});
        QCOMPARE(column(QStringLiteral("SELECT count(*) FROM ETC_TEMP")), QStringList{"14"});
        QCOMPARE(f.gridRows(), 14);
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(ETCカード)"));
        QVERIFY(f.idle());
        f.harness.clearMessages();

        // Screen clear empties grid and staging and returns to idle.
        QVERIFY(f.click(f.w->btnViewCls));
        QCOMPARE(f.harness.messageTexts(), QStringList());
        QCOMPARE(f.gridRows(), 0);
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("0件"));
        QCOMPARE(f.w->lblSumValue->text(), QStringLiteral("0円"));
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴"));
        QCOMPARE(column(QStringLiteral("SELECT count(*) FROM ETC_TEMP")), QStringList{"0"});
        QCOMPARE(f.w->view.viewType, qint16(0));
        QVERIFY(f.w->TimerPolling->isActive());
    }

    // Return never ends the program by accident: after each command the
    // focus is on the next useful command, never on 終了; quitting while a
    // card read is shown and not registered asks first (いいえ keeps it), a
    // logout does not ask.
    void focusFollowsTheWorkAndQuittingAsks()
    {
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QCOMPARE(QApplication::focusWidget(), f.w->btnDBEntry);
        const QString question = QStringLiteral("カードから読み込んだ利用履歴がDB登録されていません。"
                                                "終了すると、読み込んだ利用履歴は失われます。終了しますか?");
        f.harness.clearMessages();
        QVERIFY(f.click(f.w->btnExit)); // no answer queued: いいえ
        f.w->close();
        QCOMPARE(f.harness.messageTexts(), (QStringList{question, question}));
        QVERIFY(f.w->isVisible());
        QCOMPARE(f.gridRows(), 14);

        QVERIFY(f.registerAs(QStringLiteral("0001")));
        QCOMPARE(QApplication::focusWidget(), f.w->btnDBRead);
        QVERIFY(f.click(f.w->btnDBRead));
        QCOMPARE(QApplication::focusWidget(), f.w->btnPrintDefault);

        QVERIFY(f.readCard());
        f.harness.clearMessages();
        QVERIFY(endsProgram([] { endForSessionEnd(); }));
        QCOMPARE(f.harness.messageTexts(), QStringList());
    }

    void rangeStagesOnlyRecordsInside_data()
    {
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<QDateTime>("end");
        QTest::addColumn<QStringList>("dates"); // shown, newest first
        QTest::addColumn<QString>("sum");
        auto at = [](const char *text) { return QDateTime::fromString(QLatin1String(text), "yyyy/MM/dd HH:mm:ss"); };
        QTest::newRow("April") << at("2024/04/01 00:00:00") << at("2024/04/30 23:59:59")
                               << QStringList{"2024/04/28", "2024/04/21", "2024/04/10", "2024/04/02"}
                               << QStringLiteral("8,210円");
        QTest::newRow("bounds are records") << at("2024/04/10 13:45:26") << at("2024/04/28 14:07:50")
                                            << QStringList{"2024/04/28", "2024/04/21", "2024/04/10"}
                                            << QStringLiteral("7,640円");
        QTest::newRow("one second inside") << at("2024/04/10 13:45:27") << at("2024/04/28 14:07:49")
                                           << QStringList{"2024/04/21"} << QStringLiteral("1,320円");
        QTest::newRow("start equals end") << at("2024/05/12 07:31:02") << at("2024/05/12 07:31:02")
                                               << QStringList{"2024/05/12"} << QStringLiteral("3,050円");
    }
    void rangeStagesOnlyRecordsInside()
    {
        QFETCH(QDateTime, start);
        QFETCH(QDateTime, end);
        QFETCH(QStringList, dates);
        QFETCH(QString, sum);
        Flow f;
        FLOW_START(f);
        f.selectRange(start, end);
        QVERIFY(f.readCard());
        QCOMPARE(f.harness.messageTexts(), QStringList());
        QCOMPARE(f.gridColumn(QStringLiteral("ご利用日")), dates);
        QCOMPARE(f.w->lblCountValue->text(), QString::number(dates.size()) + QStringLiteral("件"));
        QCOMPARE(f.w->lblSumValue->text(), sum);
        QCOMPARE(column(QStringLiteral("SELECT count(*) FROM ETC_TEMP")), QStringList{QString::number(dates.size())});
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(ETCカード)"));
        QVERIFY(f.idle());
    }

    void rangeStartDateEndsTheReadOnTheCard()
    {
        // The window's range start date goes into the read itself: the card is
        // read back to its first record older than that day and no further.
        Flow f;
        FLOW_START(f);
        f.selectRange(QDateTime(QDate(2024, 4, 2), QTime(12, 0)), QDateTime(QDate(2024, 5, 31), QTime(0, 0)));
        QVERIFY(f.readCard());
        QCOMPARE(reader::link().cardTable().records.size(), 1 + 9); // 2024/05/20 .. 2024/04/02; 2024/03/30 stopped the read
        QCOMPARE(reader::link().cardTable().records.last().PASS_DATE, QStringLiteral("2024/04/02"));
        // The record of 04/02 19:12 lies inside the range, those before 12:00 would not.
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("9件"));
    }

    void nothingToShow_data()
    {
        QTest::addColumn<bool>("emptyCard");
        QTest::newRow("records outside the range") << false;
        QTest::newRow("card without records") << true;
    }
    void nothingToShow()
    {
        QFETCH(bool, emptyCard);
        Flow f(readerWith(emptyCard ? QString() : kSampleCard));
        FLOW_START(f);
        // Today (2010/06/03) only: every sample record is from 2024.
        f.selectRange(QDateTime(QDate(2010, 6, 3), QTime(0, 0)), QDateTime(QDate(2010, 6, 3), QTime(23, 59, 59)));
        QVERIFY(f.readCard());
        QCOMPARE(f.harness.messageTexts(), QStringList{QStringLiteral("該当データがありません。")});
        QCOMPARE(f.harness.messages()[0].icon, seams::MsgIcon::Warning);
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("0件"));
        QCOMPARE(f.w->lblSumValue->text(), QStringLiteral("0円"));
        // Records read: the card is reported fine at once. No records: the
        // reading text stays until the next polling tick.
        if (emptyCard)
            QCOMPARE(f.w->lblCardValue->text(), QStringLiteral("カード読込中"));
        QTRY_COMPARE_WITH_TIMEOUT(f.w->lblCardValue->text(), QStringLiteral("カード正常"), 2500);
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴"));
        QCOMPARE(f.gridRows(), 0);
        QCOMPARE(column(QStringLiteral("SELECT count(*) FROM ETC_TEMP")), QStringList{"0"});
        QVERIFY(f.idle());
    }

    void readerFallsSilentDuringTheRead()
    {
        Flow f;
        FLOW_START(f);
        // The reader stops answering once the first record has arrived.
        bool silenced = false;
        QObject::connect(f.w->ProgressBar, &QProgressBar::valueChanged, f.w, [&](int value) {
            if (value >= 1 && !silenced)
                silenced = f.emulator.command(QStringLiteral("fault silence"));
        });
        QVERIFY(f.readCard());
        QVERIFY(silenced);
        QCOMPARE(f.harness.messageTexts(), QStringList{QStringLiteral("カード読込中にエラーが発生しました。")});
        QCOMPARE(f.w->lblCardValue->text(), QStringLiteral("未接続"));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("0件"));
        QCOMPARE(f.gridRows(), 0);
        QCOMPARE(column(QStringLiteral("SELECT count(*) FROM ETC_TEMP")), QStringList{"0"});
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴"));
        QCOMPARE(f.commandStates(), QStringLiteral("0000000000"));
        QVERIFY(f.idle());

        // Polling resumes: once the reader answers again the card can be read.
        QVERIFY(f.emulator.command(QStringLiteral("fault none")));
        QVERIFY(f.readCard());
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
    }

    // A read asked for while a polling tick talks waits for it; the poll's
    // answer does not offer the button again, so a double click is one
    // read, and the window stays locked until the read's end is shown.
    void oneClickOneReadWhileAPollTalks()
    {
        Flow f;
        FLOW_START(f);
        QTRY_VERIFY(f.w->btnCardRead->isEnabled());
        reader::pollReader(); // a tick on the line
        QVERIFY(reader::link().busy());
        QTest::mouseClick(f.w->btnCardRead, Qt::LeftButton);
        QStringList offered;
        while (f.w->cardReadRunning()) {
            QTest::mouseClick(f.w->btnCardRead, Qt::LeftButton); // clicks as fast as a user can
            if (f.w->btnCardRead->isEnabled() || f.w->mnuConfig->isEnabled() || f.w->TimerPolling->isActive())
                offered << f.commandStates();
            QTest::qWait(5);
        }
        QVERIFY(offered.isEmpty());
        QVERIFY(QTest::qWaitFor([] { return !reader::link().busy(); }, 5000));
        QCOMPARE(column(QStringLiteral("SELECT count(*) FROM ETC_TEMP")), QStringList{"14"});
        QCOMPARE(f.gridRows(), 14);
    }
};

QTEST_MAIN(tst_cardread)
#include "tst_cardread.moc"
