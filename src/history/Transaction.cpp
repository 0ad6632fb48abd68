#include "history/Transaction.h"

#include "history/Database.h"

namespace history {

Transaction::Transaction(QSqlDatabase db, bool server) : m_control(db), m_server(server)
{
    history::runText(m_control, server ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), server);
    m_open = true;
}

Transaction::~Transaction() { rollback(); }

void Transaction::commit()
{
    history::runText(m_control, QStringLiteral("COMMIT"), m_server);
    m_open = false;
}

bool Transaction::commit(QSqlError &refused)
{
    if (m_control.exec(QStringLiteral("COMMIT"))) {
        m_open = false;
        return true;
    }
    refused = m_control.lastError();
    rollback();
    return false;
}

void Transaction::rollback()
{
    if (m_open)
        m_control.exec(QStringLiteral("ROLLBACK")); // (fails harmlessly when the server is gone)
    m_open = false;
}

} // namespace history
