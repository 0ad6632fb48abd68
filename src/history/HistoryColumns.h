#pragma once
// The 28 columns that the history table ETC_DATA and the staging table
// ETC_TEMP share, in the order of the schema (data/schema_history.sql).

#include <QString>
#include <QStringList>

inline const QStringList kHistoryColumnNames = {
    QStringLiteral("ITC_IN"),       QStringLiteral("ITC_IN_ROAD"),  QStringLiteral("ITC_IN_GATE"),
    QStringLiteral("JID_IN"),       QStringLiteral("JID_IN_NAME"),  QStringLiteral("ITC_OUT"),
    QStringLiteral("ITC_OUT_ROAD"), QStringLiteral("ITC_OUT_GATE"), QStringLiteral("JID_OUT"),
    QStringLiteral("JID_OUT_NAME"), QStringLiteral("REG_DATE"),     QStringLiteral("REG_TIME"),
    QStringLiteral("CARD_ID"),      QStringLiteral("PASS_DATE"),    QStringLiteral("PASS_TIME"),
    QStringLiteral("DATE_TIME"),    QStringLiteral("CAR_CODE"),     QStringLiteral("CAR_NAME"),
    QStringLiteral("PASS_MONEY"),   QStringLiteral("PASS_UNIT"),    QStringLiteral("PRINT_FLAG"),
    QStringLiteral("カードNO"),     QStringLiteral("ご利用日"),     QStringLiteral("通過時間"),
    QStringLiteral("通行料金"),     QStringLiteral("車種"),         QStringLiteral("入口料金所"),
    QStringLiteral("出口料金所")};

inline const QString kColumnPrintFlag = QStringLiteral("PRINT_FLAG");

namespace history {

// "INSERT INTO <table> (<columns>) VALUES (?,...)" for a prepared insert.
inline QString insertStatement(const QString &table, const QStringList &columns)
{
    return QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") + columns.join(QLatin1Char(',')) +
           QStringLiteral(") VALUES (") + QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(',')) +
           QLatin1Char(')');
}

} // namespace history
