// Decoding of one record frame into a CardRecord.

#include "RecordFrames.h"
#include "decode/CardRecord.h"

#include <QTest>

class tst_recordlayout : public QObject {
    Q_OBJECT

    static CardRecord decode(const QByteArray &f)
    {
        CardRecord r;
        decode::decodeRecord(r, f);
        return r;
    }

    static qint32 money(int raw, int unitHi, int unitLo, QString *unit = nullptr)
    {
        const int v = raw + 8388608;
        const CardRecord r = decode(ldFrame(
            {{28, (v >> 16) & 0xFF}, {29, (v >> 8) & 0xFF}, {30, v & 0xFF}, {31, unitHi}, {32, unitLo}}));
        if (unit)
            *unit = r.PASS_UNIT;
        return r.PASS_MONEY;
    }

private slots:
    void dateAndTimeBitFields()
    {
        const CardRecord r = decode(ldFrame({{23, 0x13}, {24, 0x8F}, {25, 0x8E}, {26, 0x9D}}));
        QCOMPARE(r.PASS_DATE, QStringLiteral("2006/12/15"));
        QCOMPARE(r.PASS_TIME, QStringLiteral("17:52:58"));
        // Out-of-range fields are written as they come.
        const CardRecord odd = decode(ldFrame({{23, 0x11}, {24, 0xA0}, {25, 0xC7}, {26, 0xFF}}));
        QCOMPARE(odd.PASS_DATE, QStringLiteral("2005/13/00"));
        QCOMPARE(odd.PASS_TIME, QStringLiteral("24:63:62"));
        QCOMPARE(decode(ldFrame({})).PASS_DATE, QStringLiteral("1997/00/00"));
    }

    void gates()
    {
        const CardRecord r = decode(ldFrame({{12, 0x41}, {13, 0x05}, {14, 0x0A}, {15, 0x1B}, {16, 0x2C},
                                             {18, 0xD3}, {19, 0x12}, {20, 0xF0}, {21, 0xF0}, {22, 0x0A}}));
        QCOMPARE(r.JID_IN, qint16(69));
        QCOMPARE(r.ITC_IN, QStringLiteral("A1B2C"));
        QCOMPARE(r.JID_OUT, qint16(19 * 64 + 0x12)); // the upper two bits of byte 18 are not used
        QCOMPARE(r.ITC_OUT, QStringLiteral("0F00A"));
        QCOMPARE(decode(ldFrame({{12, 0x3F}, {13, 0xFF}})).JID_IN, qint16(4287));

        qint16 office = -1;
        QString code;
        decode::decodeGate(QStringLiteral("OUT"), ldFrame({{18, 0x01}, {19, 0x01}, {22, 0x01}}),
                           office, code);
        QCOMPARE(office, qint16(65));
        QCOMPARE(code, QStringLiteral("00001"));
    }

    void amountsAndUnits()
    {
        QString unit;
        QCOMPARE(money(1000, 0x03, 0x92, &unit), 1000);
        QCOMPARE(unit, QStringLiteral("円"));
        QCOMPARE(decode(ldFrame({{28, 0x7F}, {29, 0xFF}, {30, 0xFF}, {31, 0x03}, {32, 0x92}})).PASS_MONEY, -1);
        QCOMPARE(money(35, 0x13, 0x92), 350);
        QCOMPARE(money(-5, 0x23, 0x92), -500);
        QCOMPARE(money(7, 0x33, 0x92), 7000);
        QCOMPARE(money(1234, 0x43, 0x92), 123);
        QCOMPARE(money(1250, 0x53, 0x92), 12);    // 12.5, tie to even
        QCOMPARE(money(123456, 0x63, 0x92), 123);
        QCOMPARE(money(150000, 0x73, 0x92), 15);
        QCOMPARE(money(12345678 - 8388608, 0x83, 0x92), 40); // 39.57...
        QCOMPARE(money(12345, 0xBB, 0xBB, &unit), 0);
        QCOMPARE(unit, QStringLiteral("未確定"));
        QCOMPARE(money(-77, 0x90, 0x00, &unit), -77);
        QCOMPARE(unit, QStringLiteral("度数"));
        QCOMPARE(money(77, 0x93, 0x92, &unit), 77);
        QCOMPARE(unit, QStringLiteral("度数"));
        QCOMPARE(money(77, 0xC3, 0x92, &unit), 77);
        QCOMPARE(unit, QStringLiteral("単位"));
        QCOMPARE(money(77, 0x03, 0x93, &unit), 77);
        QCOMPARE(unit, QStringLiteral("単位"));
    }

    void tiesGoToEven()
    {
        QCOMPARE(money(25, 0x43, 0x92), 2);  // 2.5
        QCOMPARE(money(35, 0x43, 0x92), 4);  // 3.5
        QCOMPARE(money(-25, 0x43, 0x92), -2);
        QCOMPARE(money(250, 0x53, 0x92), 2); // 2.5
        QCOMPARE(money(350, 0x53, 0x92), 4);
    }

    void amountsBeyondThe32BitRangeAreHeldAtItsEnds()
    {
        QCOMPARE(money(8388607, 0x33, 0x92), std::numeric_limits<qint32>::max());
        QCOMPARE(money(-8388608, 0x33, 0x92), std::numeric_limits<qint32>::min());
    }

    void shortFramesReadMissingBytesAsZero()
    {
        const CardRecord r = decode(frame::of({0x02, 0x31}));
        QCOMPARE(r.PASS_DATE, QStringLiteral("1997/00/00"));
        QCOMPARE(r.ITC_IN, QStringLiteral("00000"));
        QCOMPARE(r.PASS_MONEY, -8388608);
        QCOMPARE(r.PASS_UNIT, QStringLiteral("単位"));
        QCOMPARE(decode(QByteArray()).JID_IN, qint16(0));
    }
};

QTEST_GUILESS_MAIN(tst_recordlayout)
#include "tst_recordlayout.moc"
