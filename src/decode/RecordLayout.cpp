// The bit layout of a usage record in the reader's record frame.

#include "decode/CardRecord.h"

#include "app/Failure.h"
#include "decode/FrameBytes.h"

#include <cmath>
#include <limits>

namespace {

QString hex2(quint8 b) { return QString::asprintf("%02X", unsigned(b)); }

struct Unit {
    double factor;
    QString text;
};

Unit unitOf(const QString &code)
{
    static const char *const yenCodes[] = {"0392", "1392", "2392", "3392", "4392",
                                           "5392", "6392", "7392", "8392"};
    static const double yenFactors[] = {1, 10, 100, 1000, 0.1, 0.01, 0.001, 0.0001, 0.00001};
    for (int i = 0; i < 9; ++i)
        if (code == QLatin1String(yenCodes[i]))
            return {yenFactors[i], QStringLiteral("円")};
    if (code == QLatin1String("BBBB"))
        return {0, QStringLiteral("未確定")};
    if (code.startsWith(QLatin1Char('9')))
        return {1, QStringLiteral("度数")};
    return {1, QStringLiteral("単位")};
}

// Nearest integer, ties to even; amounts beyond the 32-bit range (only a
// damaged record can carry them) are held at the range's ends.
qint32 roundedMoney(double value)
{
    const double r = std::nearbyint(value);
    if (!(r >= double(std::numeric_limits<qint32>::min())))
        return std::numeric_limits<qint32>::min();
    if (r > double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    return qint32(r);
}

} // namespace

void decode::decodeGate(const QString &kind, const QByteArray &frame, qint16 &office, QString &code)
{
    app::tagged(app::Procedure::GateLayout, [&] {
        const int base = kind == QLatin1String("IN") ? 11 : 17;
        office = qint16((frame::at(frame, base + 1) % 64) * 64 + frame::at(frame, base + 2));
        const QString digits =
            hex2(frame::at(frame, base + 3)) + hex2(frame::at(frame, base + 4)) + hex2(frame::at(frame, base + 5));
        code = digits.mid(1, 5);
    });
}

void decode::decodeRecord(CardRecord &record, const QByteArray &frame)
{
    app::tagged(app::Procedure::RecordLayout, [&] {
        auto b = [&](int pos) { return int(frame::at(frame, pos)); };
        decode::decodeGate(QStringLiteral("IN"), frame, record.JID_IN, record.ITC_IN);
        decode::decodeGate(QStringLiteral("OUT"), frame, record.JID_OUT, record.ITC_OUT);

        const int year = b(23) / 2 + 1997;
        const int month = (b(23) % 2) * 8 + b(24) / 32;
        const int day = b(24) % 32;
        record.PASS_DATE = QString::asprintf("%04d/%02d/%02d", year, month, day);

        const int hour = b(25) / 8;
        const int minute = (b(25) % 8) * 8 + b(26) / 32;
        const int second = (b(26) % 32) * 2;
        record.PASS_TIME = QString::asprintf("%02d:%02d:%02d", hour, minute, second);

        record.CAR_CODE = qint16(b(27));
        const qint32 raw = b(28) * 65536 + b(29) * 256 + b(30) - 8388608;
        const QString unitCode = hex2(quint8(b(31))) + hex2(quint8(b(32)));
        const Unit unit = unitOf(unitCode);
        record.PASS_UNIT = unit.text;
        record.PASS_MONEY = roundedMoney(double(raw) * unit.factor);
    });
}
