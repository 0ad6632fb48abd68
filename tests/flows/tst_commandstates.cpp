// Which commands the main window offers after each outcome of the card read,
// screen clear, registration, database read and delete.

#include "FlowFixture.h"

using namespace ui;
using namespace start;

class tst_commandstates : public QObject {
    Q_OBJECT

private slots:
    void commandsAfterEachOutcome_data()
    {
        // steps, run in order after the start: nocard (no card in the reader, so
        // polling leaves カード読込 off), relay (reader behind a relay unit),
        // emptycard (card without records), seed (history of cards 0012 x3 and
        // 0034 x2 before the start), out (range outside every record), read, cls,
        // reg (register as 12), card:NNNN (list entry), dbread, del (answers Yes),
        // dup (duplicate display, answers Yes).
        QTest::addColumn<QString>("steps");
        // カード読込 画面消去 DB登録 DB読込 DB削除 標準印刷 卓上印刷 CSV出力 重複表示 重複削除
        // (the three output commands with their menu items; 'x' if they disagree)
        QTest::addColumn<QString>("expected");
        QTest::newRow("start-up, empty history") << "nocard" << "0000000000";
        QTest::newRow("start-up, history") << "nocard seed" << "0001000000";
        QTest::newRow("card read shown") << "read" << "1110010100";
        QTest::newRow("card read shown, relay") << "relay read" << "1110011100";
        QTest::newRow("card read shown over a database view") << "seed dbread read" << "1111010100";
        QTest::newRow("card read, card without records") << "emptycard read" << "0000000000";
        QTest::newRow("card read, records outside the range") << "seed out read" << "1001000000";
        QTest::newRow("screen clear") << "seed read cls" << "1001000000";
        QTest::newRow("registration done") << "read reg" << "1001000000";
        QTest::newRow("database read, all cards") << "seed dbread" << "1001110110";
        QTest::newRow("database read, card 0012") << "seed card:0012 dbread" << "1001110100";
        QTest::newRow("database read, card 0012, relay") << "relay seed card:0012 dbread" << "1001111100";
        QTest::newRow("database read, nothing found") << "seed dbread out dbread" << "1001000000";
        QTest::newRow("database delete, rows left") << "seed card:0012 dbread del" << "1001000000";
        QTest::newRow("database delete, last rows") << "seed dbread del" << "1000000010";
        // The seeded cards share their first two passages.
        QTest::newRow("duplicate display, duplicates found") << "seed dbread dup" << "1001000001";
    }
    void commandsAfterEachOutcome()
    {
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        const QStringList s = steps.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QStringList more;
        if (s.contains("relay"))
            more << "--relay";
        if (s.contains("nocard"))
            more << "--state" << "none";
        Flow f(readerWith(s.contains("emptycard") ? QString() : kSampleCard, more));
        if (s.contains("seed")) {
            f.seedHistory(QStringLiteral("0012"), 3);
            f.seedHistory(QStringLiteral("0034"), 2);
        }
        FLOW_START(f);
        QCOMPARE(f.w->lblCardValue->text(),
                 s.contains("nocard") ? QStringLiteral("カードをセットして下さい") : QStringLiteral("カード正常"));
        for (const QString &step : s) {
            if (step == "out")
                f.selectRange(QDateTime(QDate(2010, 6, 3), QTime(0, 0)), QDateTime(QDate(2010, 6, 3), QTime(23, 59)));
            else if (step == "read")
                QVERIFY(f.readCard());
            else if (step == "cls")
                QVERIFY(f.click(f.w->btnViewCls));
            else if (step == "reg")
                QVERIFY(f.registerAs(QStringLiteral("12")));
            else if (step.startsWith("card:"))
                f.selectListEntry(step.mid(5));
            else if (step == "dbread")
                QVERIFY(f.clickYes(f.w->btnDBRead));
            else if (step == "del")
                QVERIFY(f.clickYes(f.w->btnDBDelete));
            else if (step == "dup") {
                f.harness.queueAnswer(seams::MsgAnswer::Yes);
                f.w->mnuRecordCheck->trigger();
            }
        }
        QCOMPARE(f.commandStates(), expected);
    }
};

QTEST_MAIN(tst_commandstates)
#include "tst_commandstates.moc"
