#include "history/HistorySchemaObjects.h"

#include "history/Database.h"
#include "history/HistoryColumns.h"

#include <QDir>

#include <QRegularExpression>
#include <QSet>

namespace history {

namespace {

// The tables and indexes the schema script makes, and the index of the rows'
// identities made beside it; SQLite's own (sqlite_sequence, sqlite_stat1,
// sqlite_autoindex_…) are not foreign either.
const QSet<QString> &ownNames(const QString &type)
{
    static const auto read = [](const QString &kind) {
        QSet<QString> names;
        static const QRegularExpression re(QStringLiteral("CREATE\\s+(?:UNIQUE\\s+)?(TABLE|INDEX)\\s+IF\\s+NOT\\s+EXISTS\\s+(\\w+)"),
                                           QRegularExpression::CaseInsensitiveOption);
        for (auto it = re.globalMatch(historySchemaSql()); it.hasNext();) {
            const auto m = it.next();
            if (m.captured(1).compare(kind, Qt::CaseInsensitive) == 0)
                names.insert(m.captured(2).toUpper());
        }
        if (kind == QLatin1String("index"))
            names.insert(QStringLiteral("ETC_DATA_ROW_UID"));
        return names;
    };
    static const QSet<QString> tables = read(QStringLiteral("table"));
    static const QSet<QString> indexes = read(QStringLiteral("index"));
    return type == QLatin1String("table") ? tables : indexes;
}

QString kindName(const QString &type)
{
    if (type == QLatin1String("trigger"))
        return QStringLiteral("トリガー");
    if (type == QLatin1String("view"))
        return QStringLiteral("ビュー");
    if (type == QLatin1String("index"))
        return QStringLiteral("索引");
    return type;
}

} // namespace

QString ForeignObjects::describe() const
{
    QStringList names;
    for (const SchemaObject &o : code + indexes)
        names << kindName(o.type) + QLatin1Char(' ') + o.name;
    return names.join(QStringLiteral("、"));
}

QStringList ForeignObjects::dropStatements() const
{
    QStringList out;
    for (const SchemaObject &o : code + indexes)
        out << QStringLiteral("DROP %1 IF EXISTS \"%2\"").arg(o.type.toUpper(), QString(o.name).replace(QLatin1Char('"'), QStringLiteral("\"\"")));
    return out;
}

ForeignObjects foreignObjects(const QList<SchemaObject> &catalogue)
{
    ForeignObjects out;
    for (const SchemaObject &o : catalogue) {
        const QString upper = o.name.toUpper();
        if (upper.startsWith(QLatin1String("SQLITE_")) || o.type == QLatin1String("table"))
            continue; // SQLite's own; a table holds data only
        if (o.type == QLatin1String("index")) {
            if (!ownNames(o.type).contains(upper))
                out.indexes << o;
            continue;
        }
        out.code << o;
        if (ownNames(QStringLiteral("table")).contains(upper))
            out.inPlaceOfTables << o.name;
    }
    return out;
}

QStringList missingDeletedColumns(const QStringList &columns)
{
    QStringList needed = kHistoryColumnNames;
    needed << QStringLiteral("ROW_UID") << QStringLiteral("DELETE_ID") << QStringLiteral("DELETED_AT")
           << QStringLiteral("DELETED_PC") << QStringLiteral("DELETED_USER") << QStringLiteral("DELETED_ROW");
    QStringList missing;
    for (const QString &c : std::as_const(needed))
        if (!columns.contains(c, Qt::CaseInsensitive))
            missing << c;
    return missing;
}

QString deletedTableRefusal(const QString &shown, const QStringList &missing)
{
    return QStringLiteral("'%1' の削除した利用履歴のテーブル(ETC_DELETED)は、PASSLOG の使う形ではありません(%2 がありません)。"
                          "PASSLOG の利用履歴ファイルのバックアップを指定してください。")
        .arg(QDir::toNativeSeparators(shown), missing.mid(0, 3).join(QStringLiteral("、")) +
                                                   (missing.size() > 3 ? QStringLiteral(" ほか") : QString()));
}

} // namespace history
