#pragma once
// Registration: every row of the staging table appended to the history
// table under one card number.

#include <QString>
#include <QtGlobal>

// Copies ETC_TEMP into ETC_DATA with CARD_ID and カードNO set to cardNo and
// returns the number of rows registered. The whole copy is one transaction,
// so a crash leaves either all of the card read registered or none of it;
// inside it, a row the store refuses is skipped without a message and the
// others are registered. A failure that ends the transaction itself (disk
// full, I/O, a trigger rolling back) leaves ETC_DATA as it was and goes to the
// error report.
qint64 basAccess_MDBTBLEntry(const QString &cardNo);

// Copies the rows of the history file's own ETC_DATA into the shared history
// on the server, in one server transaction, and returns how many it copied.
// Each row is marked with this PC and its row in the file, so that a second
// run copies nothing twice. Without a server in the settings, a failure.
qint64 basAccess_CopyHistoryToServer();
