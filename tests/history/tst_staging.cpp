// Master look-ups and the staging of decoded records into ETC_TEMP.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "history/Staging.h"

#include <QSqlRecord>

namespace {
CardRecord record(const QString &date, const QString &time, qint32 money = 1200,
                  const QString &unit = QStringLiteral("円"))
{
    CardRecord r;
    r.JID_IN = 69;
    r.ITC_IN = QStringLiteral("01001");
    r.JID_OUT = 102;
    r.ITC_OUT = QStringLiteral("01005");
    r.PASS_DATE = date;
    r.PASS_TIME = time;
    r.CAR_CODE = 1;
    r.PASS_MONEY = money;
    r.PASS_UNIT = unit;
    return r;
}

QList<CardRecord> table(std::initializer_list<CardRecord> records)
{
    QList<CardRecord> t{CardRecord{}};
    t.append(records);
    return t;
}

history::StagingCondition rangeCondition()
{
    history::StagingCondition c;
    c.selectMode = 1;
    c.range = {QDate(2024, 5, 1), QTime(8, 0, 0), QDate(2024, 5, 1), QTime(18, 0, 0)};
    return c;
}

QList<QSqlRecord> stagedRows()
{
    QList<QSqlRecord> out;
    QSqlQuery q = history::execute(DbConnection::History, QStringLiteral("ETC_TEMP"));
    while (q.next())
        out << q.record();
    return out;
}
} // namespace

class TestStaging : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;

    static QStringList jid(const QString &ic, qint16 id, qint16 car)
    {
        QString office, carName;
        history::lookUpTollOffice(ic, id, car, office, carName);
        return {office, carName};
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        h->setNow(QDateTime(QDate(2024, 6, 2), QTime(9, 8, 7)));
        // One master row without names, to show that it does not stop a card read.
        openDatabases(*h, "INSERT INTO ITC_MASTER VALUES ('0F0F0', NULL, NULL);"
                          "INSERT INTO JID_MASTER (JID_CODE_FROM,JID_CODE_TO,IC_CODE,JID_NAME) VALUES (777,777,'0F0F0',NULL);");
    }
    void cleanup()
    {
        closeDatabases();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void interchangeLookUp()
    {
        QString road, gate;
        history::lookUpInterchange("0100A", road, gate);
        QCOMPARE(road + '/' + gate, QStringLiteral("東名高速道路/浜松"));
        history::lookUpInterchange("0100a", road, gate); // the master compares codes as the program always has, without case
        QCOMPARE(gate, QStringLiteral("浜松"));
        history::lookUpInterchange("FFFFF", road, gate);
        QCOMPARE(road + '/' + gate, QStringLiteral("FFFFF/FFFFF"));
        history::lookUpInterchange("0'1", road, gate);
        QCOMPARE(road + '/' + gate, QStringLiteral("0'1/0'1"));
        history::lookUpInterchange("0F0F0", road, gate);
        QCOMPARE(road + '/' + gate, QStringLiteral("0F0F0/0F0F0"));
        QVERIFY(h->messages().isEmpty());
    }

    void tollOfficeLookUp_data()
    {
        QTest::addColumn<QString>("ic");
        QTest::addColumn<qint16>("id");
        QTest::addColumn<qint16>("car");
        QTest::addColumn<QString>("office");
        QTest::addColumn<QString>("carName");
        QTest::newRow("exact office and IC code") << "01003" << qint16(150) << qint16(1) << "横浜青葉料金所" << "普通車";
        QTest::newRow("office alone: lowest IC code") << "FFFFF" << qint16(150) << qint16(2) << "東名川崎料金所" << "中型車";
        QTest::newRow("range, first in order wins") << "06001" << qint16(1055) << qint16(3) << "首都高速道路料金所" << "大型車";
        QTest::newRow("range lower bound") << "" << qint16(4000) << qint16(1) << "一般有料道路料金所" << "1";
        QTest::newRow("range upper bound") << "" << qint16(4287) << qint16(5) << "一般有料道路料金所" << "5";
        QTest::newRow("no office") << "01001" << qint16(3000) << qint16(2) << "" << "2";
        QTest::newRow("class 7 has no column") << "01001" << qint16(69) << qint16(7) << "東京料金所" << "7";
        QTest::newRow("class 255") << "01001" << qint16(69) << qint16(255) << "東京料金所" << "車種不明";
        QTest::newRow("class 3 Null") << "03003" << qint16(302) << qint16(3) << "八王子料金所" << "3";
        QTest::newRow("class 3 empty") << "03005" << qint16(303) << qint16(3) << "甲府昭和料金所" << "3";
        QTest::newRow("office name Null") << "0F0F0" << qint16(777) << qint16(1) << "" << "1";
        QTest::newRow("quote in the IC code") << "0'1" << qint16(69) << qint16(1) << "東京料金所" << "普通車";
    }
    void tollOfficeLookUp()
    {
        QFETCH(QString, ic);
        QFETCH(qint16, id);
        QFETCH(qint16, car);
        QFETCH(QString, office);
        QFETCH(QString, carName);
        QCOMPARE(jid(ic, id, car), (QStringList{office, carName}));
        QVERIFY(h->messages().isEmpty());
    }

    void stagedRowColumns()
    {
        CardRecord r = record("2024/05/01", "13:45:00");
        r.ITC_OUT = "FFFFF";        // unknown exit interchange
        r.JID_IN = 2000;            // entrance office: 阪神, class 2 is 大型車
        r.ITC_IN = "01001";
        r.JID_OUT = 69;             // exit office: 東京, class 2 is 中型車
        r.CAR_CODE = 2;
        history::StagingCondition all;
        history::stageRecords(table({r, record("2024/05/02", "07:00:00", 5000, "未確定"),
                                    record("2024/05/03", "07:00:00", -300)}),
                                    all);
        const QList<QSqlRecord> rows = stagedRows();
        QCOMPARE(rows.size(), 3);
        const QSqlRecord &s = rows[0];
        auto v = [&](const char *name) { return s.value(QString::fromUtf8(name)).toString(); };
        QCOMPARE(v("ITC_IN_ROAD") + v("ITC_IN_GATE"), QStringLiteral("東名高速道路東京"));
        QCOMPARE(v("JID_IN_NAME"), QStringLiteral("阪神高速道路料金所"));
        QCOMPARE(v("ITC_OUT_ROAD") + v("ITC_OUT_GATE"), QStringLiteral("FFFFFFFFFF"));
        QCOMPARE(v("JID_OUT_NAME"), QStringLiteral("東京料金所"));
        QCOMPARE(v("REG_DATE") + ' ' + v("REG_TIME"), QStringLiteral("2024/06/02 09:08:07"));
        QCOMPARE(v("CARD_ID") + v("カードNO"), QStringLiteral("00000000"));
        QCOMPARE(v("DATE_TIME"), QStringLiteral("2024/05/01-13:45:00"));
        QCOMPARE(v("ご利用日") + ' ' + v("通過時間"), QStringLiteral("2024/05/01 13:45:00"));
        QCOMPARE(v("CAR_NAME") + v("車種"), QStringLiteral("大型車大型車"));
        QCOMPARE(v("通行料金"), QStringLiteral("1200円"));
        QCOMPARE(v("入口料金所"), QStringLiteral("東名高速道路 東京"));
        QCOMPARE(v("出口料金所"), QStringLiteral("FFFFF FFFFF"));
        QCOMPARE(v("PRINT_FLAG"), QStringLiteral("0"));
        QCOMPARE(v("JID_IN") + '/' + v("JID_OUT") + '/' + v("CAR_CODE"), QStringLiteral("2000/69/2"));

        QCOMPARE(rows[1].value("通行料金").toString(), QStringLiteral("未確定"));
        QCOMPARE(rows[1].value("PASS_MONEY").toInt(), 5000);
        QCOMPARE(rows[1].value("PASS_UNIT").toString(), QStringLiteral("未確定"));
        QCOMPARE(rows[2].value("通行料金").toString(), QStringLiteral("-300円"));
    }

    void cardNumberIsStored()
    {
        history::StagingCondition c;
        c.cardNo = "1'23";
        history::stageRecords(table({record("2024/05/01", "13:45:00")}), c);
        QCOMPARE(column("SELECT CARD_ID || カードNO FROM ETC_TEMP"), QStringList{"1'231'23"});
    }

    void rangeSelection()
    {
        const QList<CardRecord> records =
            table({record("2024/05/01", "08:00:00", 1), record("2024/05/01", "18:00:00", 2),
                   record("2024/05/01", "07:59:59", 3), record("2024/05/01", "18:00:01", 4),
                   record("2024/04/30", "12:00:00", 5), record("2024/13/01", "12:00:00", 6),
                   record("2024/05/01", "24:00:00", 7), record("", "", 8)});
        history::stageRecords(records, rangeCondition());
        QCOMPARE(column("SELECT PASS_MONEY FROM ETC_TEMP ORDER BY rowid"), (QStringList{"1", "2"}));
        QVERIFY(h->messages().isEmpty());

        // All records: the pickers do not matter, and bad dates are kept as read.
        historyExec("DELETE FROM ETC_TEMP");
        history::StagingCondition all = rangeCondition();
        all.selectMode = 0;
        history::stageRecords(records, all);
        QCOMPARE(column("SELECT PASS_MONEY FROM ETC_TEMP ORDER BY rowid"),
                 (QStringList{"1", "2", "3", "4", "5", "6", "7", "8"}));
    }

    void emptyTableStagesNothing()
    {
        history::stageRecords(table({}), history::StagingCondition{});
        QVERIFY(stagedRows().isEmpty());
    }
};

QTEST_MAIN(TestStaging)
#include "tst_staging.moc"
