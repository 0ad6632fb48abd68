#include "history/Duplicates.h"
#include "history/ShownRows.h"

#include "app/Failure.h"
#include "history/SqlDialect.h"
#include "history/ViewCondition.h"
#include "history/Database.h"

#include <QSqlQuery>
#include <QVariant>

history::BoundStatement history::duplicateCardsStatement(const ViewQuery &view)
{
    BoundStatement s{QStringLiteral("SELECT DISTINCT カードNO FROM ") + kTableData + QLatin1Char(' ') +
                         sqldialect::correlatedDuplicateCondition(kTableData),
                     {}};
    if (view.ranged) {
        s.sql += QStringLiteral("AND ?<=DATE_TIME AND DATE_TIME<=? ");
        s.values << view.start << view.end;
    }
    s.sql += QStringLiteral("ORDER BY カードNO ASC;");
    return s;
}

QStringList history::duplicateCardNumbers(const ViewQuery &view)
{
    return app::tagged(app::Procedure::LoadDuplicateDeletion, [&] {
        const BoundStatement cards = history::duplicateCardsStatement(view);
        QSqlQuery q = history::execute(DbConnection::History, cards.sql, cards.values);
        QStringList numbers;
        while (q.next()) {
            const QVariant value = q.value(0);
            if (!value.isNull())
                numbers << value.toString();
        }
        q.finish();
        return numbers;
    });
}

int history::deleteDuplicates(const ViewQuery &view, const QString &cardNo, const history::KeepGoing &keepGoing)
{
    return app::tagged(app::Procedure::DeleteDuplicates, [&] {
        if (cardNo.isEmpty())
            return 0;
        return int(history::deleteShown(app::Procedure::DeleteDuplicates,
                                        history::duplicatesSql(view, cardNo, QStringLiteral("DELETE")), keepGoing));
    });
}

QString history::masterVersionText()
{
    return app::tagged(app::Procedure::LoadAbout, [] {
        QSqlQuery q = history::execute(DbConnection::Master, kTableVersion);
        const QString text = q.next() ? QStringLiteral("Ver ") + q.value(QStringLiteral("MST_VER")).toString()
                                      : QStringLiteral("Ver ") + QStringLiteral("?.??");
        q.finish();
        return text;
    });
}
