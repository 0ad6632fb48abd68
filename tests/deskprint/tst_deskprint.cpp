// The desktop printer behind the relay unit, with no window: the rows of the
// list and record statements from a real history database, the print
// line, and the print of single records through the reader emulator's relay
// unit, with what the printer answers deciding the record's printed mark.

#include "app/RunSettings.h"
#include "../history/HistoryFixture.h"
#include "reader/ReaderLink.h"
#include "../reader/ReaderTest.h"
#include "LineWait.h"
#include "TestHarness.h"
#include "app/Cp932.h"
#include "app/Constants.h"
#include "deskprint/DesktopPrint.h"
#include "history/ViewCondition.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSerialPort>
#include <QSqlField>
#include <QSqlRecord>
#include <QTest>
#include <QTimer>
#include <algorithm>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {

const QString kExampleFrame = QStringLiteral(
    "02 43 4F 4D 32 3A 00 2B 36 39 20 20 41 31 42 32 43 31 32 33 34 30 46 30 30 41 32 30 30 36 31 32 31 35 31 37 "
    "35 32 35 38 31 20 20 31 30 30 30 20 20 20 20 03 B1");

// A printer-side reply frame with its checksum, as hex for the emulator's "send".
QString reply(std::initializer_list<int> bytes)
{
    QByteArray f = frame::of(bytes);
    f.append('\0');
    f[f.size() - 1] = char(reader::checksum(f));
    return hexOf(f);
}
const QString kAck = reply({0x06, 0x31, 0x32, 0x03});

// A history row with coded and display columns.
void addRecord(const QString &card, const QString &date, const QString &time, int jidIn = 69,
               const QString &itcIn = QStringLiteral("A1B2C"), const QString &toll = QStringLiteral("1000円"),
               const QString &table = QStringLiteral("ETC_DATA"))
{
    QSqlQuery q(history::database(DbConnection::History));
    q.prepare(QStringLiteral("INSERT INTO ") + table +
              QStringLiteral(" (JID_IN,ITC_IN,JID_OUT,ITC_OUT,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,PASS_MONEY,"
                             "CARD_ID,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) "
                             "VALUES (?,?,1234,'0F00A',?,?,?,1,1000,?,?,?,?,?,'普通車','東名 東京','東名 厚木')"));
    for (const QVariant &v : {QVariant(jidIn), QVariant(itcIn), QVariant(date), QVariant(time),
                              QVariant(date + QLatin1Char('-') + time), QVariant(card), QVariant(card), QVariant(date),
                              QVariant(time), QVariant(toll)})
        q.addBindValue(v);
    if (!q.exec())
        qFatal("insert failed");
}

// PRINT_FLAG of every row of a table in stored order, read on a connection
// of its own, as a program started after a crash would see the file.
QList<int> storedFlags(const QString &table = QStringLiteral("ETC_DATA"))
{
    QList<int> flags;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("observer"));
        db.setDatabaseName(history::databasePath(kDatFile));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT PRINT_FLAG FROM ") + table + QStringLiteral(" ORDER BY rowid"));
            while (q.next())
                flags << q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("observer"));
    return flags;
}

QSqlRecord printRecord(const QVariantList &values)
{
    static const char *const names[] = {"JID_IN",    "ITC_IN",    "JID_OUT",    "ITC_OUT",  "PASS_DATE",
                                        "PASS_TIME", "CAR_CODE", "PASS_MONEY", "PASS_UNIT"};
    QSqlRecord r;
    for (int i = 0; i < 9; ++i) {
        QSqlField f(QString::fromLatin1(names[i]), QMetaType(QMetaType::QString));
        f.setValue(values.value(i));
        r.append(f);
    }
    return r;
}

} // namespace

class tst_deskprint : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHarness> harness;
    std::unique_ptr<EmulatorProcess> emulator;

    // The relay unit found by a polling sequence, then relay mode direct as
    // the print window leaves it.
    void startPrinter(const QString &mode)
    {
        emulator = std::make_unique<EmulatorProcess>(
            QStringList{QStringLiteral("--relay"), QStringLiteral("--printer"), mode});
        QVERIFY(emulator->started());
        useEmulatorAsPort1(*emulator);
        pollNow();
        QVERIFY(waitForLine());
        QCOMPARE(reader::link().relayMode, reader::RelayMode::ThroughRelayUnit);
        reader::link().relayMode = reader::RelayMode::Direct;
        emulator->forgetLines();
    }
    // The print frames the emulator received since the last call.
    QStringList printFrames()
    {
        QStringList frames;
        for (const QString &f : emulator->takeLines(QStringLiteral("rx ")))
            if (f.startsWith(QStringLiteral("02 43 4F 4D 32 3A")))
                frames << f;
        return frames;
    }
    // The emulator sends these bytes after ms, while the program waits.
    void sendLater(int ms, const QString &hex)
    {
        QTimer::singleShot(ms, this, [this, hex] { emulator->command(QStringLiteral("send ") + hex); });
    }
    deskprint::DesktopPrintRow onlyRow()
    {
        const auto rows = deskprint::listRows(deskprint::listStatement(testView, kTableData, 0));
        return rows.value(0);
    }
    // One record to the printer, its reply once the line is free again.
    deskprint::PrinterReply print(const deskprint::DesktopPrintRow &row, const QString &table = kTableData)
    {
        std::optional<deskprint::PrinterReply> reply;
        deskprint::sendToPrinter(table, row, [&reply](const deskprint::PrinterReply &r) { reply = r; });
        waitUntil([&reply] { return reply.has_value(); });
        return reply.value_or(deskprint::PrinterReply{});
    }
    qint16 printOnlyRow() { return print(onlyRow()).status; }

private slots:
    void init()
    {
        harness = std::make_unique<TestHarness>();
        openDatabases(*harness);
        testView = {};
        testView.viewType = 2;
        testView.cardNo = kNoCardNo;
        app::runSettings().viewSort = QStringLiteral("NEW");
        reader::link().relayMode = reader::RelayMode::Direct;
        reader::link().noReplyCount = 0;
        reader::link().sendToggle = 128;
    }
    void cleanup()
    {
        reader::closePort(1);
        emulator.reset();
        seams::setPortDeviceHandler({});
        closeDatabases();
        harness.reset();
    }

    // ---- statements ------------------------------------------------------------
    // The list shows the view's records (only the unprinted ones when
    // asked) in the grid's order, each with its identity; a quote in a card
    // number is a value, never a statement.
    void listShowsTheViewsRecords()
    {
        struct Record {
            QString card, date, time;
            bool printed;
            QString dateTime() const { return date + QLatin1Char('-') + time; }
        };
        const QList<Record> records{{"1234", "2023/12/31", "23:59:59", false}, {"1234", "2024/01/10", "08:00:00", true},
                                    {"1234", "2024/01/10", "09:00:00", false}, {"0012", "2024/01/20", "08:00:00", false},
                                    {"0012", "2024/02/01", "00:00:00", true},  {"1'OR", "2024/01/15", "10:00:00", false}};
        for (const QString &table : {kTableData, kTableTemp}) {
            for (const Record &r : records)
                addRecord(r.card, r.date, r.time, 69, QStringLiteral("A1B2C"), QStringLiteral("1000円"), table);
            historyExec(QStringLiteral("UPDATE %1 SET PRINT_FLAG=1 WHERE DATE_TIME IN ('2024/01/10-08:00:00',"
                                       "'2024/02/01-00:00:00')").arg(table));
        }
        for (const int viewMode : {1, 2})
            for (const bool range : {false, true})
                for (const char *card : {"0000", "1234", "1'OR", "1' OR '1'='1"})
                    for (const char *sort : {"NEW", "OLD", "ERROR"})
                        for (const int unprinted : {0, 1}) {
                            testView = {qint16(viewMode), range, QString::fromLatin1(card),
                                        range ? QStringLiteral("2024/01/01-00:00:00") : QString(),
                                        range ? QStringLiteral("2024/01/31-23:59:59") : QString()};
                            app::runSettings().viewSort = QString::fromLatin1(sort);
                            const QString table = viewMode == 1 ? kTableTemp : kTableData;
                            QCOMPARE(deskprint::viewTable(testView), table);
                            QList<Record> shown = records;
                            shown.removeIf([&](const Record &r) {
                                return (range && (r.dateTime() < testView.start || r.dateTime() > testView.end)) ||
                                       (unprinted == 1 && r.printed) ||
                                       (viewMode == 2 && testView.cardNo != kNoCardNo && r.card != testView.cardNo);
                            });
                            std::stable_sort(shown.begin(), shown.end(), [&](const Record &a, const Record &b) {
                                if (viewMode == 2 && a.card != b.card)
                                    return a.card < b.card;
                                return qstrcmp(sort, "NEW") == 0 ? a.dateTime() > b.dateTime() : a.dateTime() < b.dateTime();
                            });
                            QStringList expected, listed;
                            for (const Record &r : shown)
                                expected << r.card + QLatin1Char('|') + r.dateTime();
                            QSet<qint64> identities;
                            for (const deskprint::DesktopPrintRow &row :
                                 deskprint::listRows(deskprint::listStatement(testView, table, qint16(unprinted)))) {
                                listed << row.values[0] + QLatin1Char('|') + row.values[1] + QLatin1Char('-') + row.values[2];
                                identities << row.rowKey;
                            }
                            if (qstrcmp(sort, "ERROR") == 0) { // no date terms: only the card groups the rows
                                std::sort(expected.begin(), expected.end());
                                std::sort(listed.begin(), listed.end());
                            }
                            QVERIFY2(listed == expected, qPrintable(QStringLiteral("view %1, range %2, card %3, order %4, unprinted %5: ")
                                                                        .arg(viewMode).arg(range).arg(QString::fromLatin1(card), QString::fromLatin1(sort)).arg(unprinted) +
                                                                    listed.join(QLatin1Char(' '))));
                            QCOMPARE(identities.size(), listed.size());
                        }
    }

    // A list row selects its own record by its identity, whatever it holds
    // (quotes included), and nothing once the record changed since.
    void recordStatementSelectsItsRecord()
    {
        addRecord(QStringLiteral("0012"), QStringLiteral("2024/01/10"), QStringLiteral("08:00:00"));
        addRecord(QStringLiteral("0012"), QStringLiteral("2024/02/10"), QStringLiteral("08:00:00"));
        addRecord(QStringLiteral("0012"), QStringLiteral("2024/01/11"), QStringLiteral("08:00:00"), 69,
                  QStringLiteral("A1B2C"), QStringLiteral("1'000円"));
        testView.ranged = true;
        testView.start = QStringLiteral("2024/01/01-00:00:00");
        testView.end = QStringLiteral("2024/01/31-23:59:59");
        const auto rows = deskprint::listRows(deskprint::listStatement(testView, kTableData, 0));
        QCOMPARE(rows.size(), 2); // February is outside the range
        QCOMPARE(rows[0].values, QStringList({"0012", "2024/01/11", "08:00:00", "1'000円", "普通車", "東名 東京",
                                              "東名 厚木"}));
        QVERIFY(!rows[0].printed);
        QCOMPARE(rows[0].mark(), QStringLiteral("未"));
        const auto selected = [](const deskprint::DesktopPrintRow &row) {
            history::BoundStatement s = deskprint::printRowStatement(kTableData, row);
            QSqlQuery q = history::execute(DbConnection::History, s.sql.replace("SELECT *", "SELECT rowid"), s.values);
            QStringList keys;
            while (q.next())
                keys << q.value(0).toString();
            return keys;
        };
        QCOMPARE(selected(rows[0]), QStringList{QString::number(rows[0].rowKey)});
        QCOMPARE(selected(rows[1]), QStringList{QString::number(rows[1].rowKey)});
        QVERIFY(rows[0].rowKey != rows[1].rowKey);
        historyExec(QStringLiteral("UPDATE ETC_DATA SET 通過時間='08:00:01' WHERE rowid=%1").arg(rows[0].rowKey));
        QVERIFY(selected(rows[0]).isEmpty());
    }

    // ---- print line --------------------------------------------------------------
    void printLine_data()
    {
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("example") << QVariantList{69, "A1B2C", 1234, "0F00A", "2006/12/15", "17:52:58", 1, 1000}
                                 << QByteArray("69  A1B2C12340F00A200612151752581  1000    ");
        QTest::newRow("a date the calendar does not have keeps its width")
            << QVariantList{4095, "FFFFF", 0, "00000", "2124/15/31", "31:63:62", 255, -8388608}
            << QByteArray("4095FFFFF0   0000021241531316362255-8388608");
        QTest::newRow("empty columns are blanks")
            << QVariantList{QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
                            QVariant()}
            << QByteArray(43, ' ');
        QTest::newRow("long and wide values are cut to their columns")
            << QVariantList{123456, "ＡＢＣ", 1, "A", "2024/01/02", "03:04:05", 1234, 123456789}
            << QByteArray("1234\x82\x60\x82\x61 1   A    20240102030405123********");
    }
    void printLine()
    {
        QFETCH(QVariantList, values);
        QFETCH(QByteArray, line);
        const QByteArray printed = deskprint::printLine(printRecord(values));
        QCOMPARE(printed.size(), kPrintLineBytes);
        QCOMPARE(printed, line);
        const QByteArray f = deskprint::printFrame(printed);
        QCOMPARE(frame::ubound(f), 53);
        QVERIFY(reader::frameIntact(f));
    }

    // The amount column: yen bare, another unit with its mark, and an amount
    // too wide for its 8 bytes as asterisks rather than a cut number.
    void printAmount_data()
    {
        QTest::addColumn<QVariant>("money");
        QTest::addColumn<QVariant>("unit");
        QTest::addColumn<QString>("column");
        QTest::newRow("yen") << QVariant(1320) << QVariant("円") << "1320    ";
        QTest::newRow("no unit stored") << QVariant(-500) << QVariant() << "-500    ";
        QTest::newRow("eight characters fit") << QVariant(-8388608) << QVariant("円") << "-8388608";
        QTest::newRow("nine characters") << QVariant(-10000000) << QVariant("円") << "********";
        QTest::newRow("not yet fixed") << QVariant(0) << QVariant("未確定") << "未確定  ";
        QTest::newRow("count") << QVariant(123) << QVariant("度数") << "123度数 ";
        QTest::newRow("other unit, negative") << QVariant(-45) << QVariant("単位") << "-45単位 ";
        QTest::newRow("count too wide with its mark") << QVariant(12345) << QVariant("度数") << "********";
    }
    void printAmount()
    {
        QFETCH(QVariant, money);
        QFETCH(QVariant, unit);
        QFETCH(QString, column);
        const QByteArray line = deskprint::printLine(
            printRecord({69, "A1B2C", 1234, "0F00A", "2006/12/15", "17:52:58", 1, money, unit}));
        QCOMPARE(line.size(), kPrintLineBytes);
        QCOMPARE(line.left(35), QByteArray("69  A1B2C12340F00A200612151752581  "));
        QCOMPARE(line.mid(35), cp932::encode(column));
    }

    // A row with a Null display column cannot select its record: it is refused
    // with a warning naming it, and the other selected rows still print.
    void nullRowIsRefused()
    {
        for (const char *date : {"2024/01/10", "2024/01/11", "2024/01/12"})
            addRecord(QStringLiteral("0012"), QString::fromLatin1(date), QStringLiteral("08:00:00"));
        historyExec(QStringLiteral("UPDATE ETC_DATA SET 通行料金=NULL WHERE ご利用日='2024/01/11'"));
        startPrinter(QStringLiteral("ack"));
        const auto rows = deskprint::listRows(deskprint::listStatement(testView, kTableData, 0));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[1].nullColumns, QStringList{"通行料金"});
        QVERIFY(rows[0].nullColumns.isEmpty());
        QStringList warned;
        std::optional<int> printed;
        deskprint::printRows(kTableData, rows, [&](const QString &w) { warned << w; }, [&](int n) { printed = n; });
        QVERIFY(waitUntil([&] { return printed.has_value(); }));
        QCOMPARE(*printed, 2); // the refused row is not counted
        QCOMPARE(warned,
                 QStringList{"「通行料金」が空欄のため、次の利用履歴は卓上プリンタで印刷できません。\r\n\r\n"
                             "カードNO:0012 ご利用日:2024/01/11 通過時間:08:00:00 通行料金: 車種:普通車 "
                             "入口料金所:東名 東京 出口料金所:東名 厚木"});
        QVERIFY(harness->messages().isEmpty()); // the caller shows what it is told
        QCOMPARE(printFrames().size(), 2);
        QCOMPARE(storedFlags(), QList<int>({1, 0, 1}));
    }

    // ---- the printer's answers -------------------------------------------------------
    void printsTheExampleRecordAndMarksIt()
    {
        addRecord(QStringLiteral("0012"), QStringLiteral("2006/12/15"), QStringLiteral("17:52:58"));
        addRecord(QStringLiteral("0012"), QStringLiteral("2006/12/16"), QStringLiteral("17:52:58"));
        startPrinter(QStringLiteral("ack"));
        QCOMPARE(printOnlyRow(), qint16(0)); // newest first: 2006/12/16
        QCOMPARE(storedFlags(), QList<int>({0, 1}));
        app::runSettings().viewSort = QStringLiteral("OLD");
        QCOMPARE(printOnlyRow(), qint16(0));
        QCOMPARE(printFrames().last(), kExampleFrame);
        QCOMPARE(storedFlags(), QList<int>({1, 1}));
        QVERIFY(harness->messages().isEmpty());
        const auto rows = deskprint::listRows(deskprint::listStatement(testView, kTableData, 0));
        QCOMPARE(rows[0].mark(), QStringLiteral("済"));
        QVERIFY(deskprint::listRows(deskprint::listStatement(testView, kTableData, 1)).isEmpty());
    }

    void repliesDecideTheMark_data()
    {
        QTest::addColumn<QString>("printer");
        QTest::addColumn<QStringList>("sent"); // (ms after the frame, bytes) pairs the line delivers
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("flag");
        QTest::newRow("ack") << "ack" << QStringList() << 0 << 1;
        QTest::newRow("paper out") << "paperout" << QStringList() << 1 << 0;
        QTest::newRow("refusal with status 0") << "silent" << QStringList{"20", reply({0x15, 0x31, 0x32, 0x00, 0x03})}
                                               << 0 << 0;
        QTest::newRow("a reader frame does not end the wait")
            << "silent" << QStringList{"20", hexOf(cardStateFrame('I')), "400", kAck} << 0 << 1;
        QTest::newRow("a damaged ack confirms nothing")
            << "silent" << QStringList{"20", "06 31 32 03 00", "400", reply({0x15, 0x31, 0x32, 0x07, 0x03})} << 7 << 0;
    }
    void repliesDecideTheMark()
    {
        QFETCH(QString, printer);
        QFETCH(QStringList, sent);
        QFETCH(int, status);
        QFETCH(int, flag);
        addRecord(QStringLiteral("0012"), QStringLiteral("2024/01/10"), QStringLiteral("08:00:00"));
        startPrinter(printer);
        for (int i = 0; i + 1 < sent.size(); i += 2)
            sendLater(sent[i].toInt(), sent[i + 1]);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(printOnlyRow(), qint16(status));
        QVERIFY2(clock.elapsed() < 3000, "an answer ends the wait at once");
        QCOMPARE(storedFlags(), QList<int>({flag}));
        QCOMPARE(printFrames().size(), 1);
        QVERIFY(harness->messages().isEmpty());
    }

    // A silent printer is reported once and the record stays unmarked; an
    // answer that was already on the line before the frame (a late reply to
    // an earlier record) is not taken for this record's.
    void silentPrinter_data()
    {
        QTest::addColumn<bool>("staleAck");
        QTest::newRow("silent") << false;
        QTest::newRow("late ack of an earlier record on the line") << true;
    }
    void silentPrinter()
    {
        QFETCH(bool, staleAck);
        addRecord(QStringLiteral("0012"), QStringLiteral("2024/01/10"), QStringLiteral("08:00:00"));
        startPrinter(QStringLiteral("silent"));
        if (staleAck) {
            QVERIFY(emulator->command(QStringLiteral("send ") + kAck));
            QTRY_VERIFY(reader::serialPort()->bytesAvailable() >= 5);
        }
        QElapsedTimer clock;
        clock.start();
        const deskprint::PrinterReply reply = print(onlyRow());
        QCOMPARE(reply.status, qint16(0));
        QVERIFY(clock.elapsed() >= 7100); // 100 + 3000 + 8 x 500 ms
        QVERIFY(reply.silent);
        QVERIFY(harness->messageTexts().isEmpty());
        QCOMPARE(storedFlags(), QList<int>({0}));
    }

    void nothingSelectedSendsNothing()
    {
        addRecord(QStringLiteral("0012"), QStringLiteral("2024/01/10"), QStringLiteral("08:00:00"));
        startPrinter(QStringLiteral("ack"));
        deskprint::DesktopPrintRow gone = onlyRow();
        gone.values[1] = QStringLiteral("2024/01/11");
        QCOMPARE(print(gone).status, qint16(0));
        QTest::qWait(200);
        QVERIFY(printFrames().isEmpty());
        QCOMPARE(storedFlags(), QList<int>({0}));
        QVERIFY(harness->messages().isEmpty());
    }

    // Identical records (duplicates to be cleaned up): each row prints and
    // marks itself, and only itself.
    void identicalRecordsMarkTheRowChosen()
    {
        for (int i = 0; i < 2; ++i)
            addRecord(QStringLiteral("0012"), QStringLiteral("2024/01/10"), QStringLiteral("08:00:00"));
        startPrinter(QStringLiteral("ack"));
        const auto rows = deskprint::listRows(deskprint::listStatement(testView, kTableData, 0));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(print(rows[1]).status, qint16(0));
        QCOMPARE(storedFlags(), QList<int>({0, 1}));
        QCOMPARE(print(rows[0]).status, qint16(0));
        QCOMPARE(storedFlags(), QList<int>({1, 1}));
        QCOMPARE(printFrames().size(), 2);
    }

    // Each mark is in the file as soon as its record is confirmed: a program
    // that stops in the middle of a run leaves exactly the printed records marked.
    void marksAreStoredRecordByRecord()
    {
        for (int day = 10; day < 13; ++day)
            addRecord(QStringLiteral("0012"), QStringLiteral("2024/01/%1").arg(day), QStringLiteral("08:00:00"),
                      70 + day, QStringLiteral("A1B2C"), QStringLiteral("1000円"), kTableTemp);
        testView.viewType = 1;
        startPrinter(QStringLiteral("silent"));
        const auto rows = deskprint::listRows(deskprint::listStatement(testView, kTableTemp, 0));
        QCOMPARE(rows.size(), 3);
        QList<QList<int>> seen;
        for (const deskprint::DesktopPrintRow &row : rows) {
            QTimer::singleShot(30, this, [&] {
                seen << storedFlags(kTableTemp); // while the printer is still printing
                emulator->command(QStringLiteral("send ") + kAck);
            });
            QCOMPARE(print(row, kTableTemp).status, qint16(0));
        }
        // stored order is oldest first; the list prints newest first
        QCOMPARE(seen, QList<QList<int>>({{0, 0, 0}, {0, 0, 1}, {0, 1, 1}}));
        QCOMPARE(storedFlags(kTableTemp), QList<int>({1, 1, 1}));
        const QStringList frames = printFrames();
        QCOMPARE(frames.size(), 3);
        QVERIFY(frames[0].contains(QStringLiteral("38 32 20 20"))); // JID_IN 82 of 2024/01/12 first
    }
};

QTEST_MAIN(tst_deskprint)
#include "tst_deskprint.moc"
