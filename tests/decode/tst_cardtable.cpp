// The card data table input: repeats, the phases after the reader's "N",
// the six-entry wrap check, the date limit and the progress bar.

#include "RecordFrames.h"
#include "TestHarness.h"
#include "decode/CardTable.h"

#include <QTest>

class tst_cardtable : public QObject {
    Q_OBJECT

    decode::CardTable table;
    qint16 count = 0;
    CardTableLimits limits; // no date limit, no progress unless a test sets them

    // Stores records k = first..last and checks that each was stored.
    void store(int first, int last)
    {
        for (int k = first; k <= last; ++k)
            QCOMPARE(table.storeFrame(count, recordFrame(k), limits), qint16(1));
    }
    qint16 input(int k) { return table.storeFrame(count, recordFrame(k), limits); }

private slots:
    void init()
    {
        table = decode::CardTable{};
        count = 0;
        limits = {};
    }

    void repeatOfOneOfTheLastTwoIsSkipped()
    {
        store(1, 3);
        QCOMPARE(input(3), qint16(-1));
        QCOMPARE(input(2), qint16(-1));
        QCOMPARE(input(1), qint16(1)); // three back: stored again
        QCOMPARE(count, qint16(4));
    }

    void phaseOneThreeRepeatsEndTheRead()
    {
        store(1, 5);
        table.readPhase = 1;
        table.readForward = true;
        QCOMPARE(input(5), qint16(-1));
        QVERIFY(!table.readForward);
        QCOMPARE(input(4), qint16(-1));
        QCOMPARE(input(5), qint16(0));
        QCOMPARE(count, qint16(5));
        QCOMPARE(table.repeatsInPhase1, 3);
    }

    void phaseOneRepeatThenNewRecordReturnsToPhaseZero()
    {
        store(1, 2);
        table.readPhase = 1;
        QCOMPARE(input(2), qint16(-1));
        QCOMPARE(input(7), qint16(1));
        QCOMPARE(table.readPhase, 0);
        QCOMPARE(table.repeatsInPhase1, 0);
        QVERIFY(!table.wrapCheck);
    }

    void secondForwardRecordIsCheckedAgainstTheLastSix()
    {
        store(1, 10);
        table.readPhase = 1;
        table.readForward = true;
        QCOMPARE(input(20), qint16(1)); // matches nothing: phase 2
        QCOMPARE(table.readPhase, 2);
        QVERIFY(table.readForward);
        // Entries now end 6 7 8 9 10 20: 7 is not one of the last two but one of the last six.
        QCOMPARE(input(7), qint16(0));
        QCOMPARE(table.readPhase, 0);
        QVERIFY(!table.readForward);
        QVERIFY(table.wrapCheck);
        QCOMPARE(count, qint16(11));
    }

    void secondForwardRecordThatMatchesNothingIsStored()
    {
        store(1, 10);
        table.readPhase = 1;
        QCOMPARE(input(20), qint16(1));
        QCOMPARE(input(21), qint16(1));
        QCOMPARE(table.readPhase, 0);
        QVERIFY(!table.wrapCheck);
        QCOMPARE(count, qint16(12));
    }

    void phaseTwoRepeatIsSkipped()
    {
        store(1, 3);
        table.readPhase = 2;
        table.readForward = true;
        QCOMPARE(input(3), qint16(-1));
        QCOMPARE(table.readPhase, 0);
        QVERIFY(!table.readForward);
        QVERIFY(!table.wrapCheck);
    }

    void dateLimit()
    {
        limits.startDate = QDate(2005, 4, 1);
        QCOMPARE(table.storeFrame(count, recordFrame(1, 0x10, 0x81), limits), qint16(1)); // 2005/04/01
        QCOMPARE(table.storeFrame(count, recordFrame(2, 0x10, 0x7F), limits), qint16(0)); // 2005/03/31
        QCOMPARE(count, qint16(1));
    }

    void dateThatIsNoCalendarDateIsStoredUnderTheDateLimit()
    {
        limits.startDate = QDate(2005, 4, 1);
        TestHarness harness;
        bool ended = endsProgram([&] {
            QCOMPARE(table.storeFrame(count, recordFrame(1, 0x11, 0xA1), limits), qint16(1)); // 2005/13/01
            QCOMPARE(table.storeFrame(count, recordFrame(2, 0x10, 0x80), limits), qint16(1)); // 2005/04/00
        });
        QVERIFY(!ended);
        QVERIFY(harness.messages().isEmpty());
        QCOMPARE(table.records[1].PASS_DATE, QStringLiteral("2005/13/01"));
        QCOMPARE(count, qint16(2));
    }

    void hundredAndFirstRecordKeepsTheBarFull()
    {
        TestHarness harness;
        int bar = 0;
        limits.progress = [&bar](int n) { bar = n; };
        store(1, 100);
        QCOMPARE(bar, 100);
        bar = 50; // only counts up to 100 move the bar
        QCOMPARE(input(101), qint16(1));
        QCOMPARE(count, qint16(101));
        QCOMPARE(bar, 50);
        QCOMPARE(table.records.size(), 102);
    }

    void fullTableEndsTheRead()
    {
        count = kMaxCardRecords;
        QCOMPARE(input(1), qint16(0));
        QCOMPARE(count, kMaxCardRecords);
    }
};

QTEST_MAIN(tst_cardtable)
#include "tst_cardtable.moc"
