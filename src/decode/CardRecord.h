#pragma once
// One decoded usage record of an ETC card, named like the history columns,
// and the decoding of the reader's 34-byte "LD" record frame into it.

#include <QByteArray>
#include <QList>
#include <QString>

struct CardRecord {
    qint16 JID_IN = 0;     // entrance toll-office number
    QString ITC_IN;        // entrance interchange code, five hex digits
    qint16 JID_OUT = 0;    // exit toll-office number
    QString ITC_OUT;       // exit interchange code
    QString PASS_DATE;     // "YYYY/MM/DD"
    QString PASS_TIME;     // "HH:MM:SS"
    qint16 CAR_CODE = 0;   // vehicle-class code
    qint32 PASS_MONEY = 0; // toll in the unit below
    QString PASS_UNIT;     // "円", "未確定", "度数" or "単位"

    bool operator==(const CardRecord &) const = default;
};

namespace decode {

// Fills all nine fields from a record frame (1-based; byte 10 is the answer,
// the record is bytes 11 to 32). Missing bytes read as 0.
void decodeRecord(CardRecord &record, const QByteArray &frame);

// Decodes one toll gate: kind "IN" from base position 11, "OUT" from 17.
void decodeGate(const QString &kind, const QByteArray &frame, qint16 &office, QString &code);

} // namespace decode
