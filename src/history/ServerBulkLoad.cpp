#include "history/ServerCopy.h"

#include "history/Database.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

// Loads of many rows into the shared history beside the copy itself: the
// passages looked up by CSV取込, and the indexes set aside while a large
// load goes in.

namespace history {

void loadSpotsOnServer(QSqlDatabase db, const history::PassageSpots &spots)
{
    {
        QSqlQuery q(db);
        history::runText(q, QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS passlog_spots (card TEXT COLLATE \"C\", "
                                        "dt TEXT COLLATE \"C\")"),
                      true);
        history::runText(q, QStringLiteral("TRUNCATE passlog_spots"), true);
    }
    ServerCopyIn in(db, QStringLiteral("passlog_spots"), {QStringLiteral("card"), QStringLiteral("dt")});
    QByteArray card, dateTime;
    while (spots(card, dateTime)) {
        in.text(std::string_view(card.constData(), size_t(card.size())));
        in.text(std::string_view(dateTime.constData(), size_t(dateTime.size())));
        in.endRow();
    }
    in.finish();
    QSqlQuery q(db);
    history::runText(q, QStringLiteral("ANALYZE passlog_spots"), true);
    // A spot is a passage's card and its date and time as a CSV line holds
    // them: PASS_DATE and PASS_TIME. Rows stored by older versions or other
    // tools may carry a DATE_TIME that says otherwise, and a statement that
    // joins the spots by DATE_TIME would miss them (and CSV取込 would store
    // their passages again). Their DATE_TIME values join the spots as well,
    // found through the index of card, PASS_DATE and PASS_TIME, so that the
    // lookup still costs what the spots hold. Each (card, dt) stays once, or
    // a row would be counted twice.
    history::runText(q,
                     QStringLiteral("INSERT INTO passlog_spots (card, dt) SELECT DISTINCT d.\"カードNO\", d.DATE_TIME "
                                    "FROM passlog_spots s JOIN public.ETC_DATA d ON d.\"カードNO\" = s.card "
                                    "AND d.PASS_DATE = substr(s.dt, 1, 10) AND d.PASS_TIME = substr(s.dt, 12) "
                                    "WHERE d.DATE_TIME IS NOT NULL AND d.DATE_TIME <> s.dt AND NOT EXISTS "
                                    "(SELECT 1 FROM passlog_spots o WHERE o.card = d.\"カードNO\" AND o.dt = d.DATE_TIME)"),
                     true);
}

ServerBulkLoad::ServerBulkLoad(QSqlDatabase db, qint64 expectedRows, const std::function<bool()> &keepGoing)
    : m_db(db)
{
    if (expectedRows <= 1000)
        return;
    QSqlQuery q(db);
    history::runText(q, QStringLiteral("SELECT pg_has_role(c.relowner, 'USAGE') FROM pg_class c "
                                    "WHERE c.oid = to_regclass('public.etc_data')"),
                  true);
    if (!q.next() || !q.value(0).toBool())
        return; // not the table's owner: the indexes stay
    history::runText(q, QStringLiteral("SELECT count(*) FROM public.ETC_DATA"), true);
    if (!q.next() || q.value(0).toLongLong() >= expectedRows)
        return;
    q.finish();
    history::lockServerTable(db, QStringLiteral("ACCESS EXCLUSIVE"), keepGoing);
    // Every index but the key's (a constraint, and kept up to date cheaply: it only grows).
    history::runText(q,
                     QStringLiteral("SELECT quote_ident(n.nspname) || '.' || quote_ident(c.relname), "
                                 "pg_get_indexdef(i.indexrelid) FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
                                 "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE i.indrelid = to_regclass('public.etc_data') "
                                 "AND NOT EXISTS (SELECT 1 FROM pg_constraint k WHERE k.conindid = i.indexrelid)"),
                  true);
    QStringList names;
    while (q.next()) {
        names << q.value(0).toString();
        m_indexes << q.value(1).toString();
    }
    q.finish();
    for (const QString &name : std::as_const(names))
        history::runText(q, QStringLiteral("DROP INDEX ") + name, true);
    // Room for the sorts that build them again.
    history::runText(q, QStringLiteral("SET LOCAL maintenance_work_mem = '256MB'"), true);
}

bool ServerBulkLoad::rebuild(const std::function<bool()> &keepGoing)
{
    QSqlQuery q(m_db);
    for (const QString &index : std::as_const(m_indexes)) {
        if (keepGoing && !keepGoing())
            return false;
        history::runText(q, index, true);
    }
    m_indexes.clear();
    return true;
}

} // namespace history
