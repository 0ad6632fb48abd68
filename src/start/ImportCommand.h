#pragma once
// "passlog import csv FILE… [--card NNNN] [--dry-run]": brings the lines of
// CSV files that CSV出力 wrote into the history, without a window.

#include <QStringList>

namespace start {

// args: the words after "import". Returns the exit code: 0 done (or checked
// with --dry-run), 1 refused (a bad line, the store) or stopped, 2 a wrong
// command line.
int runImportCommand(const QStringList &args);

} // namespace start
