#pragma once
// The automatic reader search of the port settings: an enquiry on every port
// number from 1 up, stopping at the second device that answers.

#include <QList>

#include <functional>

namespace reader {

struct ReaderSearchResult {
    QList<int> found;  // port numbers that answered as a reader or relay unit, ascending
    int proposed = 0;  // the port to select: the lowest found, or the current one
    bool tooMany() const { return found.size() >= 2; }
    bool none() const { return found.isEmpty(); }
};

// Probes ports 1..16 in order; a port that exists and is free gets the ENQ
// frame, and counts as found when it answers "CS", "AC" or "PRINT" in a frame
// of 9 bytes or more. The search ends at the second device found. The port
// last opened by the search stays open (the next probe closes it).
// currentPort is proposed when nothing is found. Runs once the line is free;
// ended gets the result.
void searchReader(int currentPort, std::function<void(const ReaderSearchResult &)> ended);

} // namespace reader
