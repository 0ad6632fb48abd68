#pragma once
// Who uses the history file. Every PASSLOG process that reads or writes the
// history (the window, an import, an export, a backup) holds its use shared
// for as long as it has the file open; putting a backup in its place holds
// it alone. The use is a lock on a small file beside the history
// ("ETC_DAT.sqlite-lock"), taken through SQLite's own file locks, so that it
// holds between the processes of this PC and, as far as the file server
// keeps locks, between PCs that reach the data folder through a share. A
// process that ends in any way lets go of it.

#include <QString>

#include <functional>
#include <memory>

struct sqlite3;

namespace history {

QString historyUseLockPath(const QString &historyPath);

class HistoryUse {
public:
    enum class Mode { Shared, Alone };

    // Takes the use of the history at historyPath. When another process
    // holds it the other way, waiting(text) is told once what is waited for
    // and the use is waited for at most waitMs. Null with *why (Japanese)
    // when it could not be had. A folder where the lock file cannot be
    // made at all (a read-only share) gives a shared use without a lock:
    // nobody can put a file in place there either.
    static std::unique_ptr<HistoryUse> take(const QString &historyPath, Mode mode, int waitMs, QString *why,
                                            const std::function<void(const QString &)> &waiting = {});
    ~HistoryUse();
    HistoryUse(const HistoryUse &) = delete;
    HistoryUse &operator=(const HistoryUse &) = delete;

    Mode mode() const { return m_mode; }

private:
    HistoryUse(sqlite3 *db, Mode mode) : m_db(db), m_mode(mode) {}
    sqlite3 *m_db;
    Mode m_mode;
};

// How long a user of the history waits for a restore, and a restore for the
// users before it.
inline constexpr int kWaitForRestoreMs = 120'000;
inline constexpr int kRestoreWaitsForUsersMs = 10'000;

} // namespace history
