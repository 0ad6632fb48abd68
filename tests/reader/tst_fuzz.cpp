// Seeded random input for the parts that read untrusted bytes from the line:
// the frame recognition, the record decoder and the card table input. Runs a
// short round in the normal suite; PASSLOG_FUZZ_ITERATIONS and
// PASSLOG_FUZZ_SEED make longer runs (for example under the sanitizers).

#include "decode/CardTable.h"
#include "decode/FrameBytes.h"
#include "reader/FrameRecognizer.h"
#include "reader/CardReader.h"

#include <QList>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {
int iterations() { return qEnvironmentVariableIntValue("PASSLOG_FUZZ_ITERATIONS") ?: 20000; }
quint32 seed() { return qEnvironmentVariableIsSet("PASSLOG_FUZZ_SEED") ? quint32(qEnvironmentVariableIntValue("PASSLOG_FUZZ_SEED")) : 20061215u; }

// Bytes that are mostly what the line carries: control codes, address
// characters, small lengths and plain noise.
quint8 lineByte(QRandomGenerator &rng)
{
    static const quint8 likely[] = {0x02, 0x03, 0x05, 0x06, 0x15, 0x30, 0x31, 0x32, 0x00, 0x01, 0x02, 0x07, 0x19};
    return rng.bounded(3) ? likely[rng.bounded(int(sizeof likely))] : quint8(rng.bounded(256));
}
// ---- the frame recognition of one receive, step by step as the receive
// procedure describes it: store the byte, check the header, test a candidate
// checksum after ETX, classify the byte ----
struct ReceiveModel {
    QByteArray buffer = frame::empty(); // 1-based
    int received = 0;
    int headerState = 0;
    int lastControl = -1; // none
    bool stxFrame = false, ackFrame = false, nakFrame = false, etxSeen = false;

    // Sum of elements 2 .. (upper bound - 1), modulo 256.
    int checksum() const
    {
        int sum = 0;
        for (int i = 2; i <= received - 1; ++i)
            sum += frame::at(buffer, i);
        return sum % 256;
    }

    // True when the byte completes a frame (the receive returns).
    bool take(quint8 byte)
    {
        received += 1;
        buffer.append(char(byte));

        if (headerState == 1) {
            headerState = byte == '1' ? 2 : 0;
        } else if (headerState == 2) {
            if (byte == '0' || byte == '2') {
                if (lastControl == 0x02)
                    stxFrame = true;
                if (lastControl == 0x06)
                    ackFrame = true;
                if (lastControl == 0x15)
                    nakFrame = true;
            } else {
                headerState = 0;
            }
        }

        if (etxSeen) {
            int expected = 0;
            if (stxFrame && received >= 7)
                expected = frame::at(buffer, 6) + frame::at(buffer, 7) + 9;
            if (ackFrame)
                expected = 5;
            if (nakFrame)
                expected = 6;
            if (received == expected) {
                if (checksum() == byte)
                    return true;
            } else if (received >= 5) {
                const int shortExpected = frame::at(buffer, 4) + frame::at(buffer, 5) + 7;
                if (received == shortExpected && checksum() == byte)
                    return true;
            }
            etxSeen = false;
        }

        if (byte == 0x02 || byte == 0x06 || byte == 0x15) {
            lastControl = byte;
            headerState = 1;
        } else if (byte == 0x03) {
            etxSeen = true;
        }
        return false;
    }
};

// A frame the reader could send (ACK or NAK reply, text frame, short text
// frame), with its checksum right or, now and then, wrong.
QByteArray replyLike(QRandomGenerator &rng)
{
    QByteArray f;
    const char address = rng.bounded(2) ? '0' : '2';
    switch (rng.bounded(4)) {
    case 0: f = QByteArray("\x06") + '1' + address + '\x03'; break;
    case 1: f = QByteArray("\x15") + '1' + address + char(rng.bounded(3)) + '\x03'; break;
    case 2: {
        const int n = rng.bounded(0, 30);
        f = QByteArray("\x02") + '1' + address + char(rng.bounded(2) * 0x80) + char(rng.bounded(2) * 0x80) +
            char(rng.bounded(4) ? 0 : rng.bounded(3)) + char(n + 2) + "LD";
        for (int i = 0; i < n; ++i)
            f += char(rng.bounded(256));
        f += '\x03';
        break;
    }
    default: {
        const int n = rng.bounded(0, 12);
        f = QByteArray("\x02") + '1' + address + char(0) + char(n);
        for (int i = 0; i < n; ++i)
            f += char(rng.bounded(256));
        f += '\x03';
    }
    }
    int sum = 0;
    for (int i = 1; i < f.size(); ++i)
        sum += quint8(f[i]);
    f += char((sum + (rng.bounded(5) ? 0 : 1 + rng.bounded(255))) % 256);
    return f;
}

// ---- the card data table input, step by step as the procedure describes
// it, on decoded records; no date limit ----
struct TableModel {
    QList<CardRecord> table{CardRecord{}};
    int phase = 0;
    int dupCount = 0;
    bool wrapCheck = false;
    bool forward = false;

    // Whether r equals one of the last `entries` entries: elements
    // max(count - (entries - 1), 0) to count.
    bool amongLast(const CardRecord &r, int count, int entries) const
    {
        for (int i = qMax(count - (entries - 1), 0); i <= count; ++i)
            if (table[i] == r)
                return true;
        return false;
    }

    qint16 input(qint16 &count, const CardRecord &r)
    {
        if (r.PASS_TIME.isEmpty() || r.PASS_DATE.isEmpty())
            return -1;
        if (phase == 1) {
            if (amongLast(r, count, 2)) {
                forward = false;
                dupCount += 1;
                return dupCount < 3 ? -1 : 0;
            }
            if (dupCount != 0) {
                dupCount = 0;
                phase = 0;
            } else {
                phase = 2;
            }
        } else if (phase == 2) {
            if (amongLast(r, count, 2)) {
                forward = false;
                phase = 0;
                return -1;
            }
            forward = false;
            wrapCheck = true;
            phase = 0;
        }
        if (amongLast(r, count, 2))
            return -1;
        if (wrapCheck) {
            if (amongLast(r, count, 6))
                return 0;
            wrapCheck = false;
        }
        if (count == 32767) // the table holds at most 32767 records
            return 0;
        count += 1;
        table.append(r);
        return 1;
    }
};

// An "LD" "Y" frame (1-based) carrying 22 record bytes.
QByteArray recordFrameOf(const QByteArray &record)
{
    QByteArray f = frame::of({0x02, 0x31, 0x30, 0x00, 0x00, 0x00, 25, 'L', 'D', 'Y'});
    f += record;
    f += '\x03';
    f += '\0';
    return f;
}

QByteArray randomRecordBytes(QRandomGenerator &rng)
{
    QByteArray b(22, '\0');
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}
} // namespace

class tst_fuzz : public QObject {
    Q_OBJECT

private slots:
    void frameRecognition()
    {
        QRandomGenerator rng(seed());
        int frames = 0;
        for (int round = 0; round < iterations(); ++round) {
            reader::FrameRecognizer r;
            const int length = rng.bounded(1, 600);
            for (int i = 0; i < length; ++i) {
                const bool complete = r.feed(lineByte(rng));
                QCOMPARE(r.count(), i + 1);
                QCOMPARE(frame::ubound(r.buffer()), r.count());
                if (complete) {
                    ++frames;
                    const QByteArray &b = r.buffer();
                    const int n = r.count();
                    QCOMPARE(frame::at(b, n - 1), quint8(0x03));
                    QCOMPARE(reader::checksum(b), int(frame::at(b, n)));
                    const bool lengthRule =
                        (r.nakFrame() && n == 6) || (!r.nakFrame() && r.ackFrame() && n == 5) ||
                        (r.stxFrame() && n == frame::at(b, 6) + frame::at(b, 7) + 9) ||
                        n == frame::at(b, 4) + frame::at(b, 5) + 7;
                    QVERIFY(lengthRule);
                    break;
                }
            }
        }
        QVERIFY(frames > 0); // the generator does reach complete frames
    }

    // The recognizer against the receive's own steps, byte by byte: the same
    // completion, count, buffer and frame flags, on noise and on reply-like
    // frames with right and wrong checksums.
    void frameRecognitionMatchesTheReceiveSteps()
    {
        QRandomGenerator rng(seed() + 3);
        int completed = 0, nakFrames = 0, ackFrames = 0, shortFrames = 0;
        for (int round = 0; round < iterations(); ++round) {
            reader::FrameRecognizer r;
            ReceiveModel m;
            QByteArray line;
            while (line.size() < 400) {
                if (rng.bounded(3) == 0)
                    line += replyLike(rng);
                else
                    for (int i = rng.bounded(1, 8); i > 0; --i)
                        line += char(lineByte(rng));
            }
            for (int i = 0; i < line.size(); ++i) {
                const quint8 byte = quint8(line[i]);
                const bool complete = r.feed(byte);
                const bool expected = m.take(byte);
                QCOMPARE(complete, expected);
                QCOMPARE(r.count(), m.received);
                QCOMPARE(r.buffer(), m.buffer);
                QCOMPARE(r.stxFrame(), m.stxFrame);
                QCOMPARE(r.ackFrame(), m.ackFrame);
                QCOMPARE(r.nakFrame(), m.nakFrame);
                if (complete) {
                    ++completed;
                    nakFrames += m.nakFrame;
                    ackFrames += !m.nakFrame && m.ackFrame;
                    shortFrames += !m.nakFrame && !m.ackFrame &&
                                   m.received == frame::at(m.buffer, 4) + frame::at(m.buffer, 5) + 7;
                    break;
                }
            }
        }
        // The generator reaches every kind of ending.
        QVERIFY(completed > iterations() / 4);
        QVERIFY(nakFrames > 0 && ackFrames > 0 && shortFrames > 0);
    }

    // The card table input against its steps, call by call on random record
    // sequences with repeats, reader "N" reports (phase 1, forward) between
    // calls: the same results, count, table and phase variables.
    void cardTableInputMatchesItsSteps()
    {
        QRandomGenerator rng(seed() + 4);
        int stops = 0, stored = 0, skipped = 0, phase2 = 0, wrapArmed = 0;
        for (int round = 0; round < iterations() / 20 + 1; ++round) {
            QList<QByteArray> pool;
            for (int i = rng.bounded(2, 12); i > 0; --i)
                pool << randomRecordBytes(rng);
            decode::CardTable table;
            TableModel m;
            m.phase = table.readPhase = int(rng.bounded(3));
            m.dupCount = table.repeatsInPhase1 = 0;
            m.wrapCheck = table.wrapCheck = rng.bounded(2);
            m.forward = table.readForward = rng.bounded(2);
            qint16 count = 0, modelCount = 0;
            for (int step = 0; step < 120; ++step) {
                if (table.readPhase != 1 && rng.bounded(12) == 0) {
                    // The reader reported "N": the card read turns forward.
                    m.forward = table.readForward = true;
                    m.phase = table.readPhase = 1;
                }
                const QByteArray bytes = rng.bounded(6) ? pool[rng.bounded(int(pool.size()))] : randomRecordBytes(rng);
                const QByteArray f = recordFrameOf(bytes);
                CardRecord decoded;
                decode::decodeRecord(decoded, f);
                const int phaseBefore = m.phase;
                const bool wrapBefore = m.wrapCheck;
                const qint16 expected = m.input(modelCount, decoded);
                const qint16 result = table.storeFrame(count, f);
                QCOMPARE(result, expected);
                QCOMPARE(count, modelCount);
                QCOMPARE(table.records, m.table);
                QCOMPARE(table.readPhase, m.phase);
                QCOMPARE(table.repeatsInPhase1, m.dupCount);
                QCOMPARE(table.wrapCheck, m.wrapCheck);
                QCOMPARE(table.readForward, m.forward);
                stops += result == 0;
                stored += result == 1;
                skipped += result == -1;
                phase2 += phaseBefore == 1 && m.phase == 2;
                wrapArmed += !wrapBefore && m.wrapCheck;
                if (result == 0 && rng.bounded(2))
                    break; // the read ends here; otherwise the procedure is simply called on
            }
        }
        QVERIFY(stops > 0 && stored > 0 && skipped > 0 && phase2 > 0 && wrapArmed > 0);

        // At the table's limit a new record ends the read, as the model says.
        const CardRecord filler = [] {
            CardRecord r;
            r.PASS_DATE = QStringLiteral("2001/01/01");
            r.PASS_TIME = QStringLiteral("00:00:00");
            return r;
        }();
        TableModel m;
        decode::CardTable table;
        for (int i = 1; i <= 32765; ++i) {
            CardRecord r = filler;
            r.PASS_MONEY = i;
            table.records.append(r);
            m.table.append(r);
        }
        m.phase = table.readPhase = 0;
        m.dupCount = table.repeatsInPhase1 = 0;
        m.wrapCheck = table.wrapCheck = false;
        m.forward = table.readForward = false;
        qint16 count = 32765, modelCount = 32765;
        for (int i = 0; i < 4; ++i) {
            const QByteArray f = recordFrameOf(randomRecordBytes(rng));
            CardRecord decoded;
            decode::decodeRecord(decoded, f);
            const qint16 expected = m.input(modelCount, decoded);
            QCOMPARE(table.storeFrame(count, f), expected);
            QCOMPARE(count, modelCount);
        }
        QCOMPARE(count, qint16(32767));
        QCOMPARE(table.records, m.table);
        table.clear();
    }

    void recordDecoder()
    {
        QRandomGenerator rng(seed() + 1);
        static const QRegularExpression date(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}$"));
        static const QRegularExpression time(QStringLiteral("^\\d{2}:\\d{2}:\\d{2}$"));
        static const QRegularExpression code(QStringLiteral("^[0-9A-F]{5}$"));
        static const QStringList units{QStringLiteral("円"), QStringLiteral("未確定"), QStringLiteral("度数"),
                                       QStringLiteral("単位")};
        for (int round = 0; round < iterations(); ++round) {
            QByteArray f = frame::empty();
            const int length = rng.bounded(0, 48);
            for (int i = 0; i < length; ++i)
                f.append(char(rng.bounded(256)));
            CardRecord r;
            decode::decodeRecord(r, f);
            QVERIFY(r.JID_IN >= 0 && r.JID_IN <= 4287);
            QVERIFY(r.JID_OUT >= 0 && r.JID_OUT <= 4287);
            QVERIFY(r.CAR_CODE >= 0 && r.CAR_CODE <= 255);
            QVERIFY(code.match(r.ITC_IN).hasMatch() && code.match(r.ITC_OUT).hasMatch());
            QVERIFY(date.match(r.PASS_DATE).hasMatch());
            QVERIFY(time.match(r.PASS_TIME).hasMatch());
            QVERIFY(units.contains(r.PASS_UNIT));
        }
    }

    void cardTableInput()
    {
        QRandomGenerator rng(seed() + 2);
        const CardTableLimits limits{QDate(2005, 4, 1), {}};
        for (int round = 0; round < iterations() / 100 + 1; ++round) {
            decode::CardTable table;
            qint16 count = 0;
            table.readPhase = int(rng.bounded(3));
            table.repeatsInPhase1 = 0;
            table.wrapCheck = rng.bounded(2);
            for (int i = 0; i < 200; ++i) {
                QByteArray f = frame::empty();
                const int length = rng.bounded(0, 40);
                for (int k = 0; k < length; ++k)
                    f.append(char(rng.bounded(4) ? rng.bounded(4) : rng.bounded(256))); // repeats are likely
                const qint16 before = count;
                const qint16 result = table.storeFrame(count, f, limits);
                QVERIFY(result == 1 || result == -1 || result == 0);
                QCOMPARE(count, qint16(before + (result == 1 ? 1 : 0)));
                QCOMPARE(table.records.size(), count + 1);
                QVERIFY(table.readPhase >= 0 && table.readPhase <= 2);
                if (result == 0)
                    break;
            }
        }
    }
};

QTEST_GUILESS_MAIN(tst_fuzz)
#include "tst_fuzz.moc"
