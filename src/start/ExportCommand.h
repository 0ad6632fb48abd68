#pragma once
// "passlog export csv|statement|totals": the CSV file, the statement as a
// PDF file and the monthly totals of the history, written without a window
// for the same conditions and with the same bytes as the window writes them.

#include <QStringList>

namespace start {

// args[0] is the command's name, then its words. Exit status 0 written, 1 the
// job failed (an existing file is left as it was), 2 a usage error.
int runExportCommand(const QStringList &args);

// "export statement" lays out a PDF file.
bool exportNeedsFonts(const QStringList &args);

} // namespace start
