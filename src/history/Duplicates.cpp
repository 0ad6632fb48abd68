#include "history/Duplicates.h"
#include "app/ProgramState.h"
#include "history/ShownRows.h"

#include "app/Failure.h"
#include "history/SqlDialect.h"
#include "history/ViewCondition.h"
#include "history/Database.h"

#include <QSqlQuery>
#include <QVariant>

QString history::duplicateCardsSql()
{
    QString sql = QStringLiteral("SELECT DISTINCT カードNO ") + QStringLiteral("FROM ") + kTableData +
                  QStringLiteral(" ") + sqldialect::correlatedDuplicateCondition(kTableData);
    if (app::state().view.SelectMode == 1)
        sql += QStringLiteral("AND '") + sqldialect::quoted(app::state().view.StartDateTime) +
               QStringLiteral("'<=DATE_TIME ") + QStringLiteral("AND DATE_TIME<='") +
               sqldialect::quoted(app::state().view.EndDateTime) + QStringLiteral("' ");
    return sql + QStringLiteral("ORDER BY カードNO ASC") + QStringLiteral(";");
}

QStringList history::duplicateCardNumbers()
{
    return guarded(app::Procedure::LoadDuplicateDeletion, [] {
        QSqlQuery q = history::execute(DbConnection::History, history::duplicateCardsSql());
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

int history::deleteDuplicates(const QString &cardNo, const history::KeepGoing &keepGoing)
{
    return guarded(app::Procedure::DeleteDuplicates, [&] {
        if (cardNo.isEmpty())
            return 0;
        return int(history::deleteShown(app::Procedure::DeleteDuplicates,
                                        history::duplicatesSql(cardNo, QStringLiteral("DELETE")), keepGoing));
    });
}

QString history::masterVersionText()
{
    return guarded(app::Procedure::LoadAbout, [] {
        QSqlQuery q = history::execute(DbConnection::Master, kTableVersion);
        const QString text = q.next() ? QStringLiteral("Ver ") + q.value(QStringLiteral("MST_VER")).toString()
                                      : QStringLiteral("Ver ") + QStringLiteral("?.??");
        q.finish();
        return text;
    });
}
