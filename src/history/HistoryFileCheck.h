#pragma once
// The history file's check when it is opened, and the stamp a clean end
// leaves beside it.
//
// What a clean end of the program leaves beside the history file: the
// file's size, modification and change times and a digest of its first
// page, as they were when the program closed it, and the day of the last
// full check. A file that still matches, without a log left over, is the
// file the program checked and changed soundly since: the next start need
// not read every page before the window shows. Any other change (a crash's
// log, a copy from elsewhere, a write by another program, also one that
// puts the modification time back: the change time cannot be) fails the
// match and brings the full check back at the start.
//
// A match vouched for by a full check of the same day is trusted as it
// stands; one from an earlier day is checked in full again in the background
// before the first write. So a damage no program made (the disk's own) is
// found on the next day at the latest, and a day's later runs (an import
// from the command line, each start of the window) cost what they do, not
// what reading the whole history costs.

#include <QString>

namespace history {

// The clean-end marker beside the history file at path.
QString cleanEndMarkerPath(const QString &path);

// The history file is checked before the program writes to it. A writable
// connection would, on closing, copy a write-ahead log left by a run that
// did not end (a crash, a power cut) into the file and remove the log, also
// when the file turns out to be damaged. A read-only connection never does:
// the file and its log stay byte for byte as they were, for a repair.
//
// A read-only connection needs the log's index file (-shm) writable when a
// log is there. When it cannot have it (a folder or index file the user may
// not write), the file and its logs are checked as a copy in a private
// temporary folder instead.
//
// After a clean end only the header and the catalogue are read here; the
// full check then runs in the background and writes wait for it. True when
// the file was checked in full here, or a full check of today vouches for
// it. forReading: the caller only reads (it
// leaves the clean-end stamp alone).
// vouched: set true when the clean-end stamp matched (nothing changed the
// file since this program closed it).
bool checkHistoryFile(const QString &path, bool forReading, bool *vouched = nullptr);

// The end of a run that opened the history file to write: the stamp of its
// clean end, vouched for by the run's full check (or today's, for a file
// the run made).
void stampCleanEndOfRun(const QString &path);

} // namespace history
