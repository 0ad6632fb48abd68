#include "history/Duplicates.h"
#include "history/ShownRows.h"

#include "app/Failure.h"
#include "history/SqlDialect.h"
#include "history/ViewCondition.h"
#include "history/Database.h"

#include <QSqlQuery>
#include <QVariant>

QString history::duplicateCardsSql(const ViewQuery &view)
{
    QString sql = QStringLiteral("SELECT DISTINCT カードNO ") + QStringLiteral("FROM ") + kTableData +
                  QStringLiteral(" ") + sqldialect::correlatedDuplicateCondition(kTableData);
    if (view.ranged)
        sql += QStringLiteral("AND '") + sqldialect::quoted(view.start) +
               QStringLiteral("'<=DATE_TIME ") + QStringLiteral("AND DATE_TIME<='") +
               sqldialect::quoted(view.end) + QStringLiteral("' ");
    return sql + QStringLiteral("ORDER BY カードNO ASC") + QStringLiteral(";");
}

QStringList history::duplicateCardNumbers(const ViewQuery &view)
{
    return app::tagged(app::Procedure::LoadDuplicateDeletion, [&] {
        QSqlQuery q = history::execute(DbConnection::History, history::duplicateCardsSql(view));
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
