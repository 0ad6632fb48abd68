#pragma once
// Staging of the records of a card read into ETC_TEMP, with the names of
// roads, interchanges, toll offices and vehicle classes from the masters.

#include "app/DateTimeRange.h"
#include "app/Constants.h"
#include "decode/CardRecord.h"
#include "history/ViewCondition.h"

#include <QList>
#include <QSqlRecord>
#include <QString>

namespace history {

// The conditions at the moment of staging.
struct StagingCondition {
    qint16 selectMode = 0; // 0 all records, 1 date/time range
    DateTimeRange range;   // both ends inclusive, to the second
    QString cardNo = kNoCardNo;
};

// The staging conditions of the window's view conditions.
StagingCondition stagingCondition(const ViewSelection &selection);

// Stages records[1..] (element 0 is the table's empty element) into
// ETC_TEMP. A record whose date or time is no valid date-time lies outside
// every range: with a range it is not staged.
void stageRecords(const QList<CardRecord> &records, const StagingCondition &condition);

void lookUpInterchange(const QString &icCode, QString &roadName, QString &icName);
void lookUpTollOffice(const QString &icCode, qint16 jid, qint16 carCode, QString &jidName, QString &carName);
void vehicleClassName(const QSqlRecord &jidRow, qint16 carCode, QString &carName);

// The display toll: amount and unit, or "未確定" alone.
QString displayToll(qint32 money, const QString &unit);

// A name from the masters as it is staged: without NUL and the other control
// characters, which no store keeps alike (the server refuses a NUL) and no
// statement prints.
QString masterText(const QString &text);

} // namespace history
