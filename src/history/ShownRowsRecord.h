#pragma once
// What the grid showed of the history, so that a delete removes exactly the
// rows the user was asked about (see history/ShownRows.h).

#include <QString>
#include <QVariant>

struct ShownRows {
    QString source;      // the statement the grid was loaded from ("" when none)
    qint64 count = 0;    // its rows
    QVariant highestKey; // the highest row key of ETC_DATA just before
};
