// The polling and card-read sequences against the reader emulator, with no
// window at all: card states, counts and progress reported through the
// reader link, the silent-tick rule, relay mode, and cards of 0, 1, 50 and a
// wrapped 100 records read completely and exactly once.

#include "app/RunSettings.h"
#include "ReaderTest.h"
#include "TestHarness.h"
#include "decode/CardTable.h"
#include "reader/ReaderLink.h"
#include "../decode/RecordFrames.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

// What a window listening to the reader link would show.
class LinkView : public QObject {
public:
    QString card;
    QString count = QStringLiteral("0件");
    bool readable = false;
    QList<int> progress;
    QList<int> lost;

    LinkView()
    {
        reader::ReaderLink &link = reader::link();
        connect(&link, &reader::ReaderLink::cardStateChanged, this, [this](const QString &t) { card = t; });
        connect(&link, &reader::ReaderLink::recordCountChanged, this, [this](const QString &t) { count = t; });
        connect(&link, &reader::ReaderLink::cardReadableChanged, this, [this](bool on) { readable = on; });
        connect(&link, &reader::ReaderLink::readProgress, this, [this](int n) { progress << n; });
        connect(&link, &reader::ReaderLink::connectionLost, this, [this](int type) { lost << type; });
    }
};

class tst_sequences : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHarness> harness;
    std::unique_ptr<LinkView> view;
    std::unique_ptr<EmulatorProcess> emulator;

    void startEmulator(const QStringList &arguments)
    {
        emulator = std::make_unique<EmulatorProcess>(arguments);
        QVERIFY(emulator->started());
        useEmulatorAsPort1(*emulator);
    }
    QString cardLabel() const { return view->card; }
    QString loadCard(const QString &text)
    {
        const QString path = emulator->writeFile(QStringLiteral("card.txt"), text);
        return path;
    }
    void checkSyntheticTable(int n)
    {
        QCOMPARE(reader::link().cardTable().records.size(), n + 1);
        QCOMPARE(reader::link().cardTable().records[0], CardRecord{});
        for (int i = 0; i < n; ++i)
            QCOMPARE(reader::link().cardTable().records[i + 1], cardimage::syntheticRecord(i));
        QVERIFY(!reader::link().readFailed);
    }
    void readCard(int n, int wrap)
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable")});
        QVERIFY(emulator->command(QStringLiteral("card ") + loadCard(cardimage::synthetic(n, wrap))));
        readCardNow();
        checkSyntheticTable(n);
        QCOMPARE(view->count, n ? QStringLiteral("%1件").arg(n) : QStringLiteral("0件"));
        QList<int> bar; // the bar follows the first 100 records
        for (int i = 1; i <= qMin(n, 100); ++i)
            bar << i;
        QCOMPARE(view->progress, bar);
    }

private slots:
    void init()
    {
        harness = std::make_unique<TestHarness>();
        view = std::make_unique<LinkView>();
        reader::link().relayMode = reader::RelayMode::Direct;
        reader::link().noReplyCount = 0;
        reader::link().cardTable().readPhase = 0;
        reader::link().sendToggle = 128;
        reader::link().readFailed = false;
    }
    void cleanup()
    {
        reader::closePort(1);
        view.reset();
        emulator.reset();
        seams::setPortDeviceHandler({});
        QVERIFY(harness->messages().isEmpty());
        harness.reset();
    }

    // ---- polling ---------------------------------------------------------------
    void pollingShowsTheCardState()
    {
        startEmulator({});
        pollNow();
        QCOMPARE(cardLabel(), QStringLiteral("カードをセットして下さい"));
        QVERIFY(!view->readable);
        // (The emulator logs a frame a moment after it answers: waited for.)
        QStringList received;
        QTRY_VERIFY((received += emulator->takeLines(QStringLiteral("rx "))).size() >= 2);
        QCOMPARE(received, QStringList({QStringLiteral("05 30 31 03 64"),
                                        QStringLiteral("02 30 31 80 00 00 06 45 54 4E 4D 01 32 03 51")}));
        QVERIFY(reader::serialPort()->isOpen()); // the port stays open between polls

        const struct {
            const char *state;
            const char *text;
            bool enabled;
        } states[] = {{"readable", "カード正常", true},
                      {"auth", "カード認証中", false},
                      {"error", "カードエラー", false},
                      {"none", "カードをセットして下さい", false}};
        for (const auto &s : states) {
            QVERIFY(emulator->command(QStringLiteral("state ") + QLatin1String(s.state)));
            pollNow();
            QCOMPARE(cardLabel(), QString::fromUtf8(s.text));
            QCOMPARE(view->readable, s.enabled);
        }
    }

    void threeSilentTicksShowNotConnected()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable")});
        pollNow();
        QCOMPARE(cardLabel(), QStringLiteral("カード正常"));
        QVERIFY(emulator->command(QStringLiteral("fault silence")));
        pollNow();
        pollNow();
        QCOMPARE(reader::link().noReplyCount, 2);
        QCOMPARE(cardLabel(), QStringLiteral("カード正常"));
        pollNow();
        QCOMPARE(cardLabel(), QStringLiteral("未接続"));
        QVERIFY(!view->readable);
        QCOMPARE(reader::link().noReplyCount, 0);
    }

    void readerAnsweringEveryOtherPollStaysConnected()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable")});
        for (int i = 0; i < 6; ++i) {
            QVERIFY(emulator->command(i % 2 ? QStringLiteral("fault silence") : QStringLiteral("fault none")));
            pollNow();
            QVERIFY(cardLabel() != QStringLiteral("未接続"));
        }
    }

    void missingPortShowsNotConnectedAtOnce()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable")});
        pollNow();
        QVERIFY(view->readable);
        reader::link().relayMode = reader::RelayMode::ThroughRelayUnit;
        app::runSettings().comPort = QStringLiteral("2");
        pollNow();
        QCOMPARE(cardLabel(), QStringLiteral("未接続"));
        QVERIFY(!view->readable);
        QCOMPARE(reader::link().relayMode, reader::RelayMode::Direct);
    }

    void stateFrameOfTheWrongLength()
    {
        startEmulator({});
        view->card = QStringLiteral("カード正常");
        view->readable = true;
        QVERIFY(emulator->command(QStringLiteral("answer ") + hexOf(cardStateFrame('I', 3))));
        pollNow();
        QCOMPARE(cardLabel(), QStringLiteral("カード正常"));
        QVERIFY(!view->readable);

        QVERIFY(emulator->command(QStringLiteral("state readable")));
        QVERIFY(emulator->command(QStringLiteral("answer ") + hexOf(cardStateFrame('I', 3))));
        readCardNow();
        QCOMPARE(cardLabel(), QStringLiteral("カードをセットして下さい"));
        QVERIFY(reader::link().readFailed);
    }

    void relayModeWrapsEveryLaterFrame()
    {
        startEmulator({QStringLiteral("--relay"), QStringLiteral("--state"), QStringLiteral("readable")});
        QVERIFY(emulator->command(QStringLiteral("card ") + loadCard(cardimage::synthetic(3))));
        pollNow();
        QCOMPARE(reader::link().relayMode, reader::RelayMode::ThroughRelayUnit);
        QCOMPARE(cardLabel(), QStringLiteral("カード正常"));
        readCardNow();
        checkSyntheticTable(3);
        const QStringList sent = emulator->takeLines(QStringLiteral("rx "));
        QCOMPARE(sent.first(), QStringLiteral("05 30 31 03 64"));
        QVERIFY(sent.size() > 10);
        for (const QString &f : sent.mid(1))
            QVERIFY2(f.startsWith(QStringLiteral("02 43 4F 4D 31 3A 00")), qPrintable(f));
    }

    void desktopPrinterBehindTheRelayUnit()
    {
        startEmulator({QStringLiteral("--relay")});
        pollNow();
        QCOMPARE(reader::link().relayMode, reader::RelayMode::ThroughRelayUnit);
        // The print window sends its own "COM2:" envelope with relay mode 0.
        reader::link().relayMode = reader::RelayMode::Direct;
        QByteArray line = frame::empty();
        line += "69  A1B2C12340F00A200612151752581  1000    ";
        const QByteArray envelope = reader::relayEnvelope("COM2:", line);
        QCOMPARE(frame::ubound(envelope), 53);
        const struct {
            const char *printer;
            const char *reply;
        } cases[] = {{"ack", "06 31 32 03 66"}, {"paperout", "15 31 32 01 03 67"}, {"silent", ""}};
        for (const auto &c : cases) {
            QVERIFY(emulator->command(QStringLiteral("printer ") + QLatin1String(c.printer)));
            reader::sendBytes(envelope);
            QByteArray reply;
            receiveNow(100, reply);
            QCOMPARE(hexOf(reply), QLatin1String(c.reply));
            QCOMPARE(emulator->nextLine(QStringLiteral("print ")),
                     QStringLiteral("print 69  A1B2C12340F00A200612151752581  1000    "));
        }
    }

    void scriptedAnswers()
    {
        EmulatorProcess probe; // a scripted emulator plays exactly its list, then stays silent
        const QString script = probe.writeFile(QStringLiteral("script.txt"),
                                               QStringLiteral("# answers\n") + hexOf(cardStateFrame('P')) +
                                                   QStringLiteral("\n-\n"));
        startEmulator({QStringLiteral("--script"), script});
        pollNow();
        QCOMPARE(cardLabel(), QStringLiteral("カード認証中"));
        pollNow();
        pollNow();
        QCOMPARE(reader::link().noReplyCount, 2);
        QCOMPARE(cardLabel(), QStringLiteral("カード認証中"));
    }

    // ---- card read ---------------------------------------------------------------------
    // The sequences run on the program's event loop: while a card read talks
    // to the reader, the loop serves timers and input; a polling tick that
    // comes meanwhile is left out (nothing of it reaches the line); a read
    // asked for while a poll talks starts once the poll ended; and a line
    // dropped in the middle (the program ends) ends nothing it should not.
    void sequencesShareTheLineOnTheEventLoop()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable")});
        QVERIFY(emulator->command(QStringLiteral("card ") + loadCard(cardimage::synthetic(100, 0))));
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(10);

        pollNow();
        QVERIFY(view->readable);
        emulator->forgetLines();
        reader::pollReader(); // a poll talks on the line...
        QVERIFY(reader::link().busy());
        std::optional<bool> whole;
        reader::readCard(std::nullopt, [&whole](bool w) { whole = w; }); // ...the read waits for it
        QElapsedTimer clock;
        clock.start();
        bool tickLeftOut = false;
        while (!whole && clock.elapsed() < 60000) {
            QTest::qWait(20);
            if (!tickLeftOut && reader::link().cardTable().count() > 0) {
                const QStringList before = emulator->takeLines(QStringLiteral("rx "));
                reader::pollReader(); // a tick in the middle of the read
                tickLeftOut = true;
                QVERIFY(!before.isEmpty());
            }
        }
        QCOMPARE(whole, std::optional<bool>(true));
        QVERIFY(tickLeftOut);
        checkSyntheticTable(100);
        QVERIFY2(ticks > 20, qPrintable(QString::number(ticks))); // the loop ran all along
        QVERIFY(!reader::link().busy());

        // Dropped in the middle: no end is told, and the line is free.
        reader::readCard(std::nullopt, [&whole](bool w) { whole = w; });
        whole.reset();
        QTest::qWait(100);
        reader::link().dropSequences();
        QVERIFY(!reader::link().busy());
        QTest::qWait(1500);
        QVERIFY(!whole.has_value());
    }

    // A failure where no command's handler is (an end that fails, a read
    // that waited for a poll and finds its port gone) reaches the window
    // through sequenceFailed, named after its procedure, and frees the line.
    void failuresOnTheLineReachTheWindow()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable")});
        QList<Failure> failed;
        QObject listening;
        connect(&reader::link(), &reader::ReaderLink::sequenceFailed, &listening,
                [&failed](const Failure &f) { failed << f; });
        pollNow();
        reader::readCard(std::nullopt, [](bool) { throw Failure(5, QStringLiteral("プロシージャの呼び出しが不正です。")); });
        QVERIFY(waitUntil([&] { return !failed.isEmpty(); }, 20000));
        QCOMPARE(failed[0].number(), 5L);
        QVERIFY(waitForLine(1000));

        const QString link = emulator->link();
        int opens = 0;
        bool gone = false;
        seams::setPortDeviceHandler([&](int port) {
            return port == 1 && !(gone && ++opens >= 2) ? link : QStringLiteral("/nonexistent/ttyGone");
        });
        reader::pollReader();
        gone = true;
        std::optional<bool> whole;
        reader::readCard(std::nullopt, [&whole](bool w) { whole = w; });
        QVERIFY(waitUntil([&] { return failed.size() == 2; }, 20000));
        QCOMPARE(failed[1].number(), 8002L);
        QVERIFY(failed[1].procedure() == app::Procedure::OpenPort);
        QVERIFY(!whole.has_value() && !reader::link().busy());
    }

    void readsAnEmptyCard() { readCard(0, 0); }
    void readsOneRecord() { readCard(1, 0); }
    void readsFiftyRecords() { readCard(50, 0); }
    void readsAFullWrappedRing() { readCard(100, 37); }
    void readsARingWrappedRightAfterTheNewest() { readCard(100, 1); }

    void readsTheSampleCard()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable"), QStringLiteral("--card"),
                       QStringLiteral(PASSLOG_SOURCE_DIR "/data/sample-card.txt")});
        readCardNow();
        QVERIFY(!reader::link().readFailed);
        QCOMPARE(reader::link().cardTable().records.size(), 15);
        const CardRecord &newest = reader::link().cardTable().records[1];
        QCOMPARE(newest.JID_IN, qint16(69));
        QCOMPARE(newest.ITC_IN, QStringLiteral("01001"));
        QCOMPARE(newest.JID_OUT, qint16(104));
        QCOMPARE(newest.ITC_OUT, QStringLiteral("0100B"));
        QCOMPARE(newest.PASS_DATE, QStringLiteral("2024/05/20"));
        QCOMPARE(newest.PASS_TIME, QStringLiteral("18:42:10"));
        QCOMPARE(newest.PASS_MONEY, 5250);
        QCOMPARE(reader::link().cardTable().records[11].PASS_MONEY, 1200);
        QCOMPARE(reader::link().cardTable().records[12].PASS_MONEY, 1234);
        QCOMPARE(reader::link().cardTable().records[14].ITC_OUT, QStringLiteral("FFFFF"));
    }

    void readExchangeInOrder()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable")});
        QVERIFY(emulator->command(QStringLiteral("card ") + loadCard(cardimage::synthetic(2))));
        readCardNow();
        QTest::qWait(200); // the emulator logs the last acknowledgement
        QStringList commands;
        for (const QString &f : emulator->takeLines(QStringLiteral("rx "))) {
            const QByteArray raw = QByteArray::fromHex(f.toLatin1());
            commands << (raw[0] == 0x05   ? QStringLiteral("ENQ")
                         : raw[0] == 0x06 ? QStringLiteral("ACK")
                                          : QString::fromLatin1(raw.mid(7, raw[6] == 3 ? 3 : 2)));
        }
        QCOMPARE(commands.join(QLatin1Char(' ')),
                 QStringLiteral("ENQ ET LRO ACK ENQ LRB ACK ENQ LRB ACK"));
        QCOMPARE(cardLabel(), QStringLiteral("カード読込中"));
    }

    void firstAnswerNEndsTheReadEmpty()
    {
        startEmulator({});
        QVERIFY(emulator->command(QStringLiteral("answer ") + hexOf(readerFrame("AC", {}))));
        QVERIFY(emulator->command(QStringLiteral("answer ") + hexOf(cardStateFrame('I'))));
        QVERIFY(emulator->command(QStringLiteral("answer ") + hexOf(recordAnswerFrame('N'))));
        readCardNow();
        QCOMPARE(reader::link().cardTable().records.size(), 1);
        QVERIFY(!reader::link().readFailed);
        QCOMPARE(reader::link().cardTable().readPhase, 0);
    }

    void secondNEndsTheRead()
    {
        // One record R, newest on the card and repeated by the reader right
        // after it; the ring's physical end lies behind the repeat, so "B"
        // there is answered "N". The card's first exchanges are queued: R for
        // "LR" "O", then "N" for the first "LR" "B", which turns the read
        // forward in phase 1. "F" then brings the repeat (skipped, the read
        // turns back), and "B" meets the physical end: the second "N".
        const QByteArray record = QByteArray::fromHex("000105 00A1B2 000128 00100B 278F8E9D 0180 148203 92");
        const QString raw = QStringLiteral("raw ") + QString::fromLatin1(record.toHex(' '));
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable")});
        QVERIFY(emulator->command(QStringLiteral("card ") +
                                  loadCard(QStringLiteral("wrap 2\n") + raw + QLatin1Char('\n') + raw + QLatin1Char('\n') +
                                           cardimage::line(cardimage::syntheticRecord(3)) + QLatin1Char('\n'))));
        const QString recordAnswer = hexOf(readerFrame("LD", QByteArray("Y") + record));
        const QString endAnswer = hexOf(recordAnswerFrame('N'));
        for (const QString &answer : {hexOf(readerFrame("AC", {})), hexOf(cardStateFrame('I')), recordAnswer,
                                      QStringLiteral("-") /* the ACK */, hexOf(cardStateFrame('I')), endAnswer})
            QVERIFY(emulator->command(QStringLiteral("answer ") + answer));
        readCardNow();
        QTest::qWait(200); // the emulator logs the last answer

        QStringList requests;
        for (const QString &f : emulator->takeLines(QStringLiteral("rx "))) {
            const QByteArray bytes = QByteArray::fromHex(f.toLatin1());
            if (bytes[0] == 0x02 && bytes.mid(7, 2) == "LR")
                requests << QString::fromLatin1(bytes.mid(7, 3));
        }
        QCOMPARE(requests, (QStringList{"LRO", "LRB", "LRF", "LRB"})); // nothing asked after the second "N"
        int ends = 0;
        for (const QString &f : emulator->takeLines(QStringLiteral("tx ")))
            ends += QByteArray::fromHex(f.toLatin1()) == QByteArray::fromHex(endAnswer.toLatin1());
        QCOMPARE(ends, 2);
        // The read ended without an error, with R exactly once.
        QVERIFY(!reader::link().readFailed);
        QCOMPARE(reader::link().cardTable().records.size(), 2);
        QVERIFY(!reader::link().cardTable().records[1].PASS_DATE.isEmpty());
        QCOMPARE(reader::link().cardTable().readPhase, 1);
        QCOMPARE(view->count, QStringLiteral("1件"));
    }

    void silentReaderEndsTheReadWithAnError()
    {
        startEmulator({QStringLiteral("--fault"), QStringLiteral("silence")});
        view->count = QStringLiteral("5件");
        QElapsedTimer t;
        t.start();
        readCardNow();
        QVERIFY(reader::link().readFailed);
        QCOMPARE(cardLabel(), QStringLiteral("未接続"));
        QCOMPARE(view->count, QStringLiteral("0件"));
        // 100 + 150, then twice 1000 + 150 ms.
        QVERIFY2(t.elapsed() >= 2500 && t.elapsed() < 4500, qPrintable(QString::number(t.elapsed())));
    }

    void noReplyCountIsSharedWithPolling()
    {
        startEmulator({QStringLiteral("--fault"), QStringLiteral("silence")});
        pollNow();
        pollNow();
        QCOMPARE(reader::link().noReplyCount, 2);
        QElapsedTimer t;
        t.start();
        readCardNow();
        QVERIFY(reader::link().readFailed);
        QVERIFY2(t.elapsed() < 1000, "the read's first silent receive is its last");
    }

    void cardTakenOutDuringTheRead()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("auth")});
        readCardNow();
        QVERIFY(reader::link().readFailed);
        QCOMPARE(cardLabel(), QStringLiteral("カードをセットして下さい"));
        QVERIFY(!view->readable);
        QCOMPARE(reader::link().cardTable().records.size(), 1);
    }

    void garbageEndsTheReadWithAnError()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable"), QStringLiteral("--fault"),
                       QStringLiteral("garbage")});
        QVERIFY(emulator->command(QStringLiteral("card ") + loadCard(cardimage::synthetic(3))));
        readCardNow();
        QVERIFY(reader::link().readFailed);
        QCOMPARE(reader::link().cardTable().records.size(), 1);
        pollNow();
        QVERIFY(!view->readable);
    }

    void damagedRecordIsNeverStored()
    {
        // Every frame of the reader arrives with a wrong checksum. Control and
        // state frames are still understood, but a damaged record is neither
        // acknowledged nor decoded: the read ends with an error, keeping nothing.
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable"), QStringLiteral("--fault"),
                       QStringLiteral("checksum")});
        QVERIFY(emulator->command(QStringLiteral("card ") + loadCard(cardimage::synthetic(3))));
        emulator->forgetLines();
        readCardNow();
        QVERIFY(reader::link().readFailed);
        QCOMPARE(reader::link().cardTable().records.size(), 1);
        QCOMPARE(view->count, QStringLiteral("0件"));
        const QStringList requests = emulator->takeLines(QStringLiteral("rx "));
        QVERIFY(!requests.isEmpty());
        QVERIFY(!requests.last().startsWith(QStringLiteral("rx 06"))); // no ACK after the record

        // The line is good again: the next read gets every record exactly once.
        QVERIFY(emulator->command(QStringLiteral("fault none")));
        readCardNow();
        checkSyntheticTable(3);
    }

    void sameRecordForeverEndsTheRead()
    {
        // A reader that answers every "LR" with the same record: each repeat is
        // skipped, and the read gives up as connection lost instead of looping.
        QByteArray record = frame::raw(recordFrame(7)).mid(9, 23); // "Y" and the 22 record bytes
        QStringList script{hexOf(readerFrame("AC", {})), hexOf(cardStateFrame('I'))};
        for (int i = 0; i < 400; ++i)
            script << hexOf(readerFrame("LD", record)) << QStringLiteral("-") << hexOf(cardStateFrame('I'));
        EmulatorProcess probe;
        startEmulator({QStringLiteral("--script"),
                       probe.writeFile(QStringLiteral("script.txt"), script.join(QLatin1Char('\n')))});
        emulator->forgetLines();
        readCardNow();
        QVERIFY(reader::link().readFailed);
        QCOMPARE(cardLabel(), QStringLiteral("未接続"));
        QCOMPARE(reader::link().cardTable().records.size(), 1);
        const qsizetype recordRequests = emulator->takeLines(QStringLiteral("rx 02 30 31 00")).size();
        QVERIFY2(recordRequests > reader::kMaxSkippedRecordsInARow && recordRequests < 200,
                 qPrintable(QString::number(recordRequests)));
    }

    void pulledCable()
    {
        startEmulator({QStringLiteral("--state"), QStringLiteral("readable")});
        pollNow();
        QCOMPARE(cardLabel(), QStringLiteral("カード正常"));
        QVERIFY(emulator->command(QStringLiteral("cable out")));
        pollNow();
        QCOMPARE(cardLabel(), QStringLiteral("未接続"));
        readCardNow();
        QVERIFY(reader::link().readFailed);
        QVERIFY(emulator->command(QStringLiteral("cable in")));
        pollNow();
        QCOMPARE(cardLabel(), QStringLiteral("カード正常"));
    }
};

QTEST_GUILESS_MAIN(tst_sequences)
#include "tst_sequences.moc"
