#include "history/GridStatement.h"

#include "history/SqlDialect.h"

#include <QRegularExpression>
#include <QStringList>

history::GridStatement history::splitStatement(const QString &source)
{
    GridStatement s;
    if (sqldialect::isTableName(source)) {
        s.base = QStringLiteral("SELECT * FROM ") + source;
        return s; // in stored order: the row key alone
    }
    QString text = source.trimmed();
    if (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    // The last ORDER BY outside literals and parentheses is the statement's own.
    qsizetype orderAt = -1;
    int depth = 0;
    bool literal = false;
    static const QString kOrderBy = QStringLiteral("ORDER BY");
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\''))
            literal = !literal;
        if (literal)
            continue;
        if (c == QLatin1Char('('))
            ++depth;
        else if (c == QLatin1Char(')'))
            --depth;
        else if (depth == 0 && text.mid(i, kOrderBy.size()).compare(kOrderBy, Qt::CaseInsensitive) == 0 &&
                 (i == 0 || text[i - 1].isSpace()))
            orderAt = i;
    }
    if (orderAt < 0) {
        s.base = text;
        return s;
    }
    s.base = text.left(orderAt).trimmed();
    for (const QString &term : text.mid(orderAt + kOrderBy.size()).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList words = term.simplified().split(QLatin1Char(' '));
        if (words.isEmpty() || words[0].isEmpty())
            continue;
        s.terms.append({words[0], words.size() > 1 && words[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0});
    }
    return s;
}
