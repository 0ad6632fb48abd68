#include "history/SqlDialect.h"

#include <QList>
#include <QRegularExpression>

namespace sqldialect {

namespace {

const QString kPassageColumns = QStringLiteral("ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所");

struct Segment {
    QString text;
    bool literal;
};

// Splits a statement into string literals (with their quotes) and the code
// between them. A doubled quote inside a literal belongs to the literal.
QList<Segment> split(const QString &sql)
{
    QList<Segment> out;
    QString code;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        if (sql[i] != QLatin1Char('\'')) {
            code += sql[i++];
            continue;
        }
        if (!code.isEmpty())
            out.append({code, false});
        code.clear();
        qsizetype j = i + 1;
        while (j < n) {
            if (sql[j] == QLatin1Char('\'')) {
                if (j + 1 < n && sql[j + 1] == QLatin1Char('\'')) {
                    j += 2;
                    continue;
                }
                break;
            }
            ++j;
        }
        const qsizetype end = j < n ? j + 1 : n; // an unclosed literal runs to the end
        out.append({sql.mid(i, end - i), true});
        i = end;
    }
    if (!code.isEmpty())
        out.append({code, false});
    return out;
}

const QRegularExpression &deleteColumnsPattern()
{
    static const QRegularExpression re(QStringLiteral("^(\\s*)DELETE\\s+(?!FROM\\b).*?\\s*\\bFROM\\b"),
                                       QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::UseUnicodePropertiesOption |
                                           QRegularExpression::DotMatchesEverythingOption);
    return re;
}

const QRegularExpression &booleanPattern()
{
    static const QRegularExpression re(QStringLiteral("\\b(True|False)\\b"),
                                       QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

// The correlated condition with its table name as a captured word.
const QRegularExpression &correlatedPattern()
{
    static const QRegularExpression re = [] {
        const QString marker = QStringLiteral("\x01");
        // The condition ends in a blank; a statement cut before its ORDER BY
        // (the grid's paging does that) may have lost it.
        const QStringList parts = correlatedDuplicateCondition(marker).chopped(1).split(marker);
        QString pattern = QRegularExpression::escape(parts.first());
        for (qsizetype k = 1; k < parts.size(); ++k) {
            pattern += k == 1 ? QStringLiteral("(\\w+)") : QStringLiteral("\\1");
            pattern += QRegularExpression::escape(parts[k]);
        }
        return QRegularExpression(pattern + QStringLiteral(" ?"), QRegularExpression::UseUnicodePropertiesOption);
    }();
    return re;
}

enum class Dialect { Sqlite, Postgres };

// A name with a character outside ASCII (the Japanese column names), which
// the server keeps with its exact spelling only between double quotes.
const QRegularExpression &wideNamePattern()
{
    static const QRegularExpression re(QStringLiteral("(?<![\\w\"])(\\w*[^\\x00-\\x7F]\\w*)(?![\\w\"])"),
                                       QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

// Null sorts before every value in SQLite (and in the program's own
// dialect): first when rising, last when falling. The server is told so in every order term.
const QRegularExpression &directionPattern()
{
    static const QRegularExpression re(QStringLiteral("\\b(ASC|DESC)\\b(?!\\s+NULLS)"),
                                       QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

QString translateCode(QString code, bool statementStart, Dialect dialect)
{
    if (statementStart) {
        const auto m = deleteColumnsPattern().match(code);
        if (m.hasMatch())
            code.replace(0, m.capturedLength(0), m.captured(1) + QStringLiteral("DELETE FROM"));
    }
    for (;;) {
        const auto m = correlatedPattern().match(code);
        if (!m.hasMatch())
            break;
        code.replace(m.capturedStart(0), m.capturedLength(0), groupedDuplicateCondition(m.captured(1)));
    }
    if (dialect == Dialect::Postgres) {
        // The server has real booleans: True and False stay as they are.
        code.replace(wideNamePattern(), QStringLiteral("\"\\1\""));
        QString out;
        qsizetype last = 0;
        auto it = directionPattern().globalMatch(code);
        while (it.hasNext()) {
            const auto m = it.next();
            out += code.mid(last, m.capturedEnd(0) - last);
            out += m.captured(1).compare(QLatin1String("ASC"), Qt::CaseInsensitive) == 0
                       ? QLatin1String(" NULLS FIRST")
                       : QLatin1String(" NULLS LAST");
            last = m.capturedEnd(0);
        }
        return out + code.mid(last);
    }
    QString out;
    qsizetype last = 0;
    auto it = booleanPattern().globalMatch(code);
    while (it.hasNext()) {
        const auto m = it.next();
        out += code.mid(last, m.capturedStart(0) - last);
        out += m.captured(1).compare(QLatin1String("True"), Qt::CaseInsensitive) == 0 ? QLatin1String("1")
                                                                                       : QLatin1String("0");
        last = m.capturedEnd(0);
    }
    out += code.mid(last);
    return out;
}

} // namespace

QString quoted(const QString &value)
{
    QString out = value;
    out.replace(QLatin1Char('\''), QLatin1String("''"));
    return out;
}

QString correlatedDuplicateCondition(const QString &table)
{
    return QStringLiteral("WHERE ご利用日 ") + QStringLiteral("IN (") + QStringLiteral("SELECT ご利用日 FROM ") + table +
           QStringLiteral(" As Tmp ") + QStringLiteral("GROUP BY ") + kPassageColumns + QStringLiteral(" ") +
           QStringLiteral("HAVING COUNT(*)>1 ") + QStringLiteral("AND 通過時間 = ") + table +
           QStringLiteral(".通過時間 ") + QStringLiteral("AND 通行料金 = ") + table + QStringLiteral(".通行料金 ") +
           QStringLiteral("AND 車種 = ") + table + QStringLiteral(".車種 ") + QStringLiteral("AND 入口料金所 = ") +
           table + QStringLiteral(".入口料金所 ") + QStringLiteral("AND 出口料金所 = ") + table +
           QStringLiteral(".出口料金所) ");
}

QString duplicateKeysQuery(const QString &table, bool copies)
{
    // A passage with Null in a column has no twin (the condition compares
    // with "="), so it is not kept.
    static const QString known = [] {
        QStringList terms;
        for (const QString &c : kPassageColumns.split(QLatin1Char(',')))
            terms << c + QStringLiteral(" IS NOT NULL");
        return terms.join(QStringLiteral(" AND "));
    }();
    return QStringLiteral("SELECT ") + kPassageColumns + (copies ? QStringLiteral(",COUNT(*) AS copies") : QString()) +
           QStringLiteral(" FROM ") + table + QStringLiteral(" WHERE ") + known +
           QStringLiteral(" GROUP BY ") + kPassageColumns + QStringLiteral(" HAVING COUNT(*)>1");
}

QString withDuplicateKeys(const QString &jet, const QString &keysTable, bool *found)
{
    QString out = jet;
    bool any = false;
    for (;;) {
        const auto m = correlatedPattern().match(out);
        if (!m.hasMatch())
            break;
        any = true;
        out.replace(m.capturedStart(0), m.capturedLength(0),
                    QStringLiteral("WHERE (") + kPassageColumns + QStringLiteral(") IN (SELECT ") + kPassageColumns +
                        QStringLiteral(" FROM ") + keysTable + QStringLiteral(") "));
    }
    if (found)
        *found = any;
    return out;
}

QString groupedDuplicateCondition(const QString &table)
{
    // A row with Null in any of the six columns has no twin in either form:
    // "=" and row-value IN are both unknown for Null.
    return QStringLiteral("WHERE (") + kPassageColumns + QStringLiteral(") IN (SELECT ") + kPassageColumns +
           QStringLiteral(" FROM ") + table + QStringLiteral(" GROUP BY ") + kPassageColumns +
           QStringLiteral(" HAVING COUNT(*)>1) ");
}

namespace {
QString translate(const QString &jet, Dialect dialect)
{
    QString out;
    bool first = true;
    for (const Segment &s : split(jet)) {
        out += s.literal ? s.text : translateCode(s.text, first, dialect);
        first = false;
    }
    return out;
}
} // namespace

QString keepOneCopy(const QString &sqlite, const QString &rowKey)
{
    static const QRegularExpression head(QStringLiteral("^\\s*DELETE FROM (\\w+) "),
                                         QRegularExpression::UseUnicodePropertiesOption);
    const auto m = head.match(sqlite);
    if (!m.hasMatch())
        return sqlite;
    const QString table = m.captured(1);
    const QString where = sqlite.mid(m.capturedEnd(0));
    if (!where.startsWith(groupedDuplicateCondition(table)))
        return sqlite;
    QString condition = where.trimmed();
    if (condition.endsWith(QLatin1Char(';')))
        condition.chop(1);

    // The same passage as the row being deleted, in another copy.
    QString samePassage;
    for (const QString &c : kPassageColumns.split(QLatin1Char(',')))
        samePassage += QStringLiteral(" AND twin.") + c + QStringLiteral("=") + table + QLatin1Char('.') + c;
    samePassage = samePassage.mid(5);

    // "doomed" holds the rows the statement as written deletes. A doomed row
    // goes when a copy of its passage survives, or when it is not the first
    // copy; so the first copy of a passage the delete would wipe out stays.
    return QStringLiteral("WITH doomed AS MATERIALIZED (SELECT ") + rowKey + QStringLiteral(" AS id FROM ") + table +
           QLatin1Char(' ') + condition + QStringLiteral(") DELETE FROM ") + table + QStringLiteral(" WHERE ") +
           rowKey + QStringLiteral(" IN (SELECT id FROM doomed) AND (EXISTS (SELECT 1 FROM ") + table +
           QStringLiteral(" AS twin WHERE ") + samePassage + QStringLiteral(" AND twin.") + rowKey +
           QStringLiteral(" NOT IN (SELECT id FROM doomed)) OR ") + rowKey + QStringLiteral("<>(SELECT MIN(twin.") +
           rowKey + QStringLiteral(") FROM ") + table + QStringLiteral(" AS twin WHERE ") + samePassage +
           QStringLiteral("));");
}

QStringList codeParts(const QString &sql)
{
    QStringList out;
    for (const Segment &s : split(sql))
        if (!s.literal)
            out << s.text;
    return out;
}

QString toSqlite(const QString &jet) { return keepOneCopy(translate(jet, Dialect::Sqlite), QStringLiteral("rowid")); }

QString toPostgres(const QString &jet)
{
    // The duplicate delete is reshaped in its plain form (names unquoted), keyed
    // on the server's row key, and then translated like any other statement.
    const QString plain = translate(jet, Dialect::Sqlite);
    const QString kept = keepOneCopy(plain, QStringLiteral("ROW_ID"));
    return translate(kept == plain ? jet : kept, Dialect::Postgres);
}

bool isTableName(const QString &source)
{
    static const QRegularExpression re(QStringLiteral("^\\w+$"), QRegularExpression::UseUnicodePropertiesOption);
    return re.match(source).hasMatch();
}

} // namespace sqldialect
