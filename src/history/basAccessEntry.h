#pragma once
// Registration: every row of the staging table appended to the history
// table under one card number.

#include <QString>

// Copies ETC_TEMP into ETC_DATA with CARD_ID and カードNO set to cardNo. The
// whole copy is one transaction, so a crash leaves either all of the card
// read registered or none of it; inside it, a row the store refuses is
// skipped without a message and the others are registered.
void basAccess_MDBTBLEntry(const QString &cardNo);
