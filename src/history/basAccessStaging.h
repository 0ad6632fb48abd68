#pragma once
// Staging of the records of a card read into ETC_TEMP, with the names of
// roads, interchanges, toll offices and vehicle classes from the masters.

#include "decode/CardRecord.h"

#include <QDateTime>
#include <QList>
#include <QSqlRecord>
#include <QString>

// The main window's conditions at the moment of staging.
struct StagingCondition {
    qint16 selectMode = 0; // 0 all records, 1 date/time range
    QDateTime start;       // range, both ends inclusive, to the second
    QDateTime end;
    QString cardNo = QStringLiteral("0000");
};

// Stages records[1..] (element 0 is the table's empty element) into
// ETC_TEMP. A record whose date or time is no valid date-time lies outside
// every range: with a range it is not staged.
void basAccess_MDBAddTEMP(const QList<CardRecord> &records, const StagingCondition &condition);
// Stages CardTable under the main window's current conditions.
void basAccess_MDBAddTEMP();

// The conditions the main window shows now.
StagingCondition basAccess_CurrentStagingCondition();

void basAccess_GetITC(const QString &icCode, QString &roadName, QString &icName);
void basAccess_GetJID(const QString &icCode, qint16 jid, qint16 carCode, QString &jidName, QString &carName);
void basAccess_GetCarName(const QSqlRecord &jidRow, qint16 carCode, QString &carName);

// The moment of a record as a date-time value; invalid when its date or time
// does not convert.
QDateTime basAccess_RecordMoment(const QString &passDate, const QString &passTime);
// The display toll: amount and unit, or "未確定" alone.
QString basAccess_DisplayToll(qint32 money, const QString &unit);
