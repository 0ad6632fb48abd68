#pragma once
// Loading the main window's grid and the card-number list.

#include <QString>

class HistoryGridModel;

// Record count and toll sum of a grid load.
struct GridTotals {
    qint64 count = 0;
    qint64 sum = 0;
    void add(const QString &displayToll);
};

// The grid model attached to the main window's MSHFlexGrid (created on
// first use).
HistoryGridModel *basAccess_GridModel();

void basAccess_MDBtoMSHFlexGrid(const QString &source, qint16 viewType);
void basMain_GetCardNo();
