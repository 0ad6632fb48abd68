#include "app/RunSettings.h"
#include "history/ViewCondition.h"

#include "app/Failure.h"
#include "app/Constants.h"
#include "history/SqlDialect.h"
#include "history/Database.h"

namespace {

const QString kStagingColumns = QStringLiteral("SELECT ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME ");
const QString kHistoryColumns =
    QStringLiteral("SELECT カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME ");
const QString kRepeatColumns = QStringLiteral(" カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME ");
const QString kGateTerms = QStringLiteral("入口料金所 ASC,出口料金所 ASC");
const QString kRepeatClosingTerms = QStringLiteral("通行料金 ASC,車種 ASC,入口料金所 ASC,出口料金所 ASC,カードNO ASC");

// Date terms of the grid and duplicate queries.
QString readDateTerms()
{
    if (app::runSettings().viewSort == QLatin1String("NEW"))
        return QStringLiteral("ご利用日 DESC,通過時間 DESC,");
    if (app::runSettings().viewSort == QLatin1String("OLD"))
        return QStringLiteral("ご利用日 ASC,通過時間 ASC,");
    return {};
}

// Date terms of the select/delete builder: the same, after a blank.
QString shownDateTerms()
{
    const QString terms = readDateTerms();
    return terms.isEmpty() ? terms : QLatin1Char(' ') + terms;
}

} // namespace


QString history::selectedCardNo(const ViewSelection &selection)
{
    return app::tagged(app::Procedure::CardNumberCondition, [&] {
        QString result;
        if (selection.CardNoMode == 0)
            result = selection.TypedCardNo;
        else if (selection.CardNoMode == 1)
            result = selection.ListCardNo;
        return result.isEmpty() ? kNoCardNo : result;
    });
}

history::ViewQuery history::viewQuery(qint16 viewType, const ViewSelection &selection)
{
    ViewQuery view;
    view.viewType = viewType;
    view.ranged = selection.SelectMode == 1;
    if (view.ranged) {
        view.start = selection.Range.startText();
        view.end = selection.Range.endText();
    }
    view.cardNo = viewType == 2 ? history::selectedCardNo(selection) : kNoCardNo;
    return view;
}

QString history::viewStatement(const QString &tableName, const ViewQuery &view)
{
    return app::tagged(app::Procedure::ReadStatement, [&] {
        QString sql;
        if (view.viewType == 1)
            sql = kStagingColumns;
        else if (view.viewType == 2)
            sql = kHistoryColumns;
        sql += QStringLiteral("FROM ") + tableName + QStringLiteral(" ");
        if (view.ranged)
            sql += QStringLiteral("WHERE '") + sqldialect::quoted(view.start) + QStringLiteral("'<=DATE_TIME ") +
                   QStringLiteral("AND DATE_TIME<='") + sqldialect::quoted(view.end) + QStringLiteral("' ");
        if (view.viewType == 1)
            sql += QStringLiteral("ORDER BY ");
        if (view.viewType == 2) {
            if (view.cardNo != kNoCardNo) {
                sql += view.ranged ? QStringLiteral("AND ") : QStringLiteral("WHERE ");
                sql += QStringLiteral("カードNO='") + sqldialect::quoted(view.cardNo) + QStringLiteral("' ");
            }
            sql += QStringLiteral("ORDER BY カードNO ASC,");
        }
        sql += readDateTerms() + kGateTerms + QStringLiteral(";");
        return sql;
    });
}

QString history::shownViewSql(const ViewQuery &view, const QString &tableName, const QString &mode)
{
    return app::tagged(app::Procedure::GridStatement, [&] {
        if (mode == QLatin1String("FORMAT"))
            return QStringLiteral("DELETE * ") + QStringLiteral("FROM ") + tableName + QStringLiteral(";");
        const bool select = mode == QLatin1String("SELECT");
        QString sql = mode + QStringLiteral(" * ") + QStringLiteral("FROM ") + tableName;
        if (view.ranged)
            sql += QStringLiteral(" WHERE '") + sqldialect::quoted(view.start) +
                   QStringLiteral("'<=DATE_TIME") + QStringLiteral(" AND DATE_TIME<='") +
                   sqldialect::quoted(view.end) + QStringLiteral("'");
        if (view.viewType == 2) {
            if (view.cardNo != kNoCardNo) {
                sql += view.ranged ? QStringLiteral(" AND") : QStringLiteral(" WHERE");
                sql += QStringLiteral(" カードNO='") + sqldialect::quoted(view.cardNo) + QStringLiteral("'");
            }
            if (!select)
                return sql + QStringLiteral(";");
            sql += QStringLiteral(" ORDER BY カードNO ASC,");
        } else {
            // A delete of the staging rows shown takes no order.
            if (!select)
                return sql + QStringLiteral(";");
            sql += QStringLiteral(" ORDER BY");
        }
        QString dateTerms = shownDateTerms();
        if (dateTerms.isEmpty() && view.viewType != 2)
            dateTerms = QStringLiteral(" "); // keeps "ORDER BY" apart from the gate terms
        sql += dateTerms + kGateTerms + QStringLiteral(";");
        return sql;
    });
}

QString history::duplicatesSql(const ViewQuery &view, const QString &cardNo, const QString &mode)
{
    return app::tagged(app::Procedure::DuplicateStatement, [&] {
        QString sql = mode + kRepeatColumns + QStringLiteral("FROM ") + kTableData + QStringLiteral(" ");
        sql += sqldialect::correlatedDuplicateCondition(kTableData);
        if (view.ranged)
            sql += QStringLiteral("AND '") + sqldialect::quoted(view.start) +
                   QStringLiteral("'<=DATE_TIME ") + QStringLiteral("AND DATE_TIME<='") +
                   sqldialect::quoted(view.end) + QStringLiteral("' ");
        if (mode == QLatin1String("SELECT"))
            sql += QStringLiteral("ORDER BY ") + readDateTerms() + kRepeatClosingTerms;
        else if (mode == QLatin1String("DELETE"))
            sql += QStringLiteral("AND カードNO='") + sqldialect::quoted(cardNo) + QStringLiteral("'");
        sql += QStringLiteral(";");
        return sql;
    });
}
