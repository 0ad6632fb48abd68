// Seeded random input for the parts that read untrusted bytes from the line:
// the frame recognition, the record decoder and the card table input. Runs a
// short round in the normal suite; PASSLOG_FUZZ_ITERATIONS and
// PASSLOG_FUZZ_SEED make longer runs (for example under the sanitizers).

#include "decode/CardTable.h"
#include "decode/FrameBytes.h"
#include "reader/FrameRecognizer.h"
#include "reader/basRS232C.h"

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
} // namespace

class tst_fuzz : public QObject {
    Q_OBJECT

private slots:
    void frameRecognition()
    {
        QRandomGenerator rng(seed());
        int frames = 0;
        for (int round = 0; round < iterations(); ++round) {
            FrameRecognizer r;
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
                    QCOMPARE(basRS232C_CalCheckSUM(b), int(frame::at(b, n)));
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
            basRS232C_VirtualRecordLayout(r, f);
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
            basRS232C_ClearCardTable();
            qint16 count = 0;
            intReadPhase = int(rng.bounded(3));
            intDupCount = 0;
            blnWrapCheck = rng.bounded(2);
            for (int i = 0; i < 200; ++i) {
                QByteArray f = frame::empty();
                const int length = rng.bounded(0, 40);
                for (int k = 0; k < length; ++k)
                    f.append(char(rng.bounded(4) ? rng.bounded(4) : rng.bounded(256))); // repeats are likely
                const qint16 before = count;
                const qint16 result = basRS232C_VirtualTableInput(count, f, limits);
                QVERIFY(result == 1 || result == -1 || result == 0);
                QCOMPARE(count, qint16(before + (result == 1 ? 1 : 0)));
                QCOMPARE(CardTable.size(), count + 1);
                QVERIFY(intReadPhase >= 0 && intReadPhase <= 2);
                if (result == 0)
                    break;
            }
        }
    }
};

QTEST_GUILESS_MAIN(tst_fuzz)
#include "tst_fuzz.moc"
