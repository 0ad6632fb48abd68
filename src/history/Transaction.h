#pragma once
// One transaction on a connection of the history's stores, the one way the
// program writes: begun here (BEGIN IMMEDIATE on the history file, which
// takes its write lock before anything is read; BEGIN on the server), and
// rolled back when the guard goes away uncommitted, whatever ended the work:
// a refusal, a lost server, 中止. (CSV取込's writer of the history file works
// on an SQLite connection of its own and keeps the same rule itself.)

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace history {

class Transaction {
public:
    // Throws as a refused statement does when the store does not begin one.
    Transaction(QSqlDatabase db, bool server);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // Commits; a refusal throws (and the guard rolls back what is left).
    void commit();
    // Commits, or returns false with the store's refusal (rolled back).
    bool commit(QSqlError &refused);
    // Undoes everything now; fails harmlessly when the store already did.
    void rollback();

private:
    QSqlQuery m_control;
    bool m_server;
    bool m_open = false;
};

} // namespace history
