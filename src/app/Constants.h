#pragma once
// Values and display forms that the whole program shares.

#include <QLocale>
#include <QString>

// The card number that means no particular card: all cards for reading,
// printing and exporting, refused for registration.
inline const QString kNoCardNo = QStringLiteral("0000");

// The polling timer's tick.
constexpr int kPollingIntervalMs = 1000;

namespace app {

// Counts and sums as the window shows them, with thousands separators
// ("1,234件", "31,934円"); statements and files keep their own forms.
inline QString groupedNumber(qint64 n) { return QLocale(QLocale::Japanese, QLocale::Japan).toString(n); }
inline QString recordCountText(qint64 count) { return groupedNumber(count) + QStringLiteral("件"); }
inline QString tollSumText(qint64 sum) { return groupedNumber(sum) + QStringLiteral("円"); }

} // namespace app
