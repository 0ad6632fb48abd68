#pragma once
// What the grid showed of the history, so that a delete removes exactly the
// rows the user was asked about: when another PC changed them in the
// meantime, nothing is deleted and the view is shown again.

#include "app/Procedures.h"
#include "app/Failure.h"
#include "history/ShownRowsRecord.h"
#include "history/HistoryWorker.h"

#include <QString>
#include <QVariant>

namespace history {

// The history rows the grid shows now (set by each grid load of the history,
// cleared by any other load).
const ShownRows &shownRows();
void rememberShown(ShownRows shown);

// The highest row key ETC_DATA holds (Null when it is empty): rows stored
// later have higher keys.
QVariant highestRowKey();

// The rows behind the view are not those shown any more.
class ShownRowsChanged : public ExpectedFailure {
public:
    ShownRowsChanged();
};

// Runs a delete of ETC_DATA (in the program's own dialect) in one transaction
// that first makes sure the shown rows are still the same: the same count,
// and no row stored since (without a view shown, it just deletes). Returns the rows deleted; throws ShownRowsChanged
// (nothing deleted) when they are not. procedure names the caller in the
// error report.
// With keepGoing the delete on the history file runs without blocking the
// caller's thread (see HistoryWorker.h); a "no" deletes nothing and throws
// WorkStopped.
qint64 deleteShown(app::Procedure procedure, const QString &deleteStatement,
                   const KeepGoing &keepGoing = {});

} // namespace history
