#pragma once
// What the grid shows, so that print, export, delete and re-sort reproduce
// the same rows. Only basAccess_MakeReadSQL fills it.

#include <QString>

struct ViewConditionRecord {
    qint16 ViewMode = 0;   // 0 nothing, 1 staging table (card read), 2 history table
    qint16 SelectMode = 0; // 0 all records, 1 date/time range
    QString CardNo;        // card-number condition of a history view, "0000" = all cards
    QString StartDateTime; // "YYYY/MM/DD-HH:MM:SS", empty when SelectMode is 0
    QString EndDateTime;
};

extern ViewConditionRecord ViewCondition;

// Back to the empty record the program starts with.
void basAccess_ResetViewCondition();

// Statement builders. Values from the window go between quotes with their
// quotes doubled.
QString basAccess_MakeReadSQL(const QString &tableName, qint16 viewType);
QString basAccess_MakeHFGSQL(const QString &tableName, const QString &mode);
QString basAccess_MakeRepeatSQL(const QString &cardNo, const QString &mode);
