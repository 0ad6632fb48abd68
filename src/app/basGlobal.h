#pragma once
// Program-wide state, named after the settings keys and the reader-link
// variables that the whole program reads.

#include <QLocale>
#include <QString>

// Settings held in memory for the whole run.
extern QString AppPath;  // program folder, ending in the path separator
extern QString CSVPath;  // initial folder of the CSV save dialog
extern QString ViewSort; // "NEW" newest first, "OLD" oldest first
extern QString ComPort;  // reader port number as decimal text

// Reader link.
extern int intRelayMode;    // 0 direct, 2 relay unit present
extern int intNoReplyCount; // polls in a row without a reply
extern int intSendToggle;   // text-frame sequence toggle, 128 or 0
extern bool blnReadError;   // the last card read failed

// The card number that means no particular card: all cards for reading,
// printing and exporting, refused for registration.
inline const QString kNoCardNo = QStringLiteral("0000");

// The polling timer's tick.
constexpr int kPollingIntervalMs = 1000;

// The record-count and toll-sum labels' texts: "14件", "31934円".
// Counts and sums as the window shows them, with thousands separators
// ("1,234件", "31,934円"); statements and files keep their own forms.
inline QString groupedNumber(qint64 n) { return QLocale(QLocale::Japanese, QLocale::Japan).toString(n); }
inline QString recordCountText(qint64 count) { return groupedNumber(count) + QStringLiteral("件"); }
inline QString tollSumText(qint64 sum) { return groupedNumber(sum) + QStringLiteral("円"); }
