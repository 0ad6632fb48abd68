#include "reports/Statement.h"

#include "app/Failure.h"
#include "app/Common.h"
#include "history/GridLoad.h"

namespace {
QString blanks(int n) { return QString(n, QLatin1Char(' ')); }

QString right(QString text, qint16 width) { return app::rightAligned(text, width); }

QString fix(const QString &text, qint16 width) { return app::fixedWidth(text, width); }

// The card number of a history row; a row without one cannot be put under a card.
QString rowCard(const ReportRow &row)
{
    const QVariant &v = row[reports::ReportColumn::CardNo];
    if (v.isNull())
        throw Failure(94, QStringLiteral("Null の使い方が不正です。"));
    return v.toString();
}
} // namespace

QString reports::signedText(qint64 value)
{
    return value < 0 ? QString::number(value) : QLatin1Char(' ') + QString::number(value);
}

QString reports::statementOutputDate(const QDate &date)
{
    return right(reports::signedText(date.year()), 4) + QStringLiteral("年") + right(QString::number(date.month()), 2) +
           QStringLiteral("月") + right(QString::number(date.day()), 2) + QStringLiteral("日");
}

QStringList reports::statementHeaderLines(qint32 pageNumber, const QString &outputDate)
{
    QStringList lines(HeaderLineCount);
    lines[TitleLine] = blanks(10) + fix(kStatementTitle, 40);
    lines[DateLine] = blanks(110) + fix(QStringLiteral("出力日："), 8) + outputDate;
    lines[PageLine] = blanks(126) + right(reports::signedText(pageNumber), 5) + QStringLiteral("頁");
    lines[HeadingLine] = fix(QStringLiteral("ご利用日"), 11) + fix(QStringLiteral("通過時間"), 10) +
                         right(QStringLiteral("通行料金"), 9) + blanks(1) + fix(QStringLiteral("車種"), 11) +
                         fix(QStringLiteral("事業所"), 16) + fix(QStringLiteral("入口料金所"), 38) +
                         fix(QStringLiteral("出口料金所"), 40);
    return lines;
}

QStringList reports::statementRecordLines(const ReportRow &row, const QString &card)
{
    using C = reports::ReportColumn;
    const QString a = fix(card, 4) + blanks(30) + fix(row.text(C::CarCode), 12) + fix(row.text(C::JidIn), 18) +
                      fix(row.text(C::ItcIn), 42) + fix(row.text(C::ItcOut), 40);
    const QString b = fix(row.text(C::UseDate), 12) + fix(row.text(C::TollTime), 10) + right(row.text(C::Toll), 10) +
                      blanks(2) + fix(row.text(C::CarKind), 10) + blanks(2) + fix(row.text(C::JidInName), 16) +
                      blanks(2) + fix(row.text(C::EntranceName), 40) + blanks(2) + fix(row.text(C::ExitName), 40);
    return {a, b};
}

QStringList reports::statementSubtotalLines(const QString &card, qint64 count, qint64 sum)
{
    return {fix(card, 4),
            right(reports::signedText(count), 18) + QStringLiteral("件") + right(reports::signedText(sum), 10) + QStringLiteral("円")};
}

qint32 reports::composeStatement(const reports::ReportRowSource &rows, qint16 viewMode, const QString &card,
                                 const std::function<void(const reports::StatementPage &)> &pageDone)
{
    ReportRow row;
    if (!rows(row))
        return 0;
    reports::StatementPage page;
    page.number = 1;
    int block = 1;
    QString previous = viewMode == 2 ? rowCard(row) : card;
    QString current = card;
    history::GridTotals totals; // the grid's own rule: count every record, sum the amounts in 円
    bool more = true;
    while (more) {
        if (viewMode == 2)
            current = rowCard(row);
        if (current != previous) {
            page.body << reports::statementSubtotalLines(previous, totals.count, totals.sum);
            ++block;
            totals = history::GridTotals();
            previous = current;
        }
        if (block > kBlocksPerPage) {
            pageDone(page);
            page.body.clear();
            ++page.number;
            block = 1;
        }
        page.body << reports::statementRecordLines(row, current);
        totals.add(row.text(reports::ReportColumn::Toll));
        ++block;
        more = rows(row);
    }
    page.body << reports::statementSubtotalLines(previous, totals.count, totals.sum);
    pageDone(page);
    return page.number;
}

qint32 reports::composeStoppable(const reports::ReportRowSource &rows, qint16 viewMode, const QString &card,
                                 const std::function<void(const reports::StatementPage &)> &pageDone, const reports::ReportProgress &progress,
                                 qint64 total)
{
    qint64 done = 0;
    const reports::ReportRowSource counted = [&](ReportRow &row) {
        const bool more = rows(row);
        done += more ? 1 : 0;
        return more;
    };
    struct Stopped {};
    try {
        return reports::composeStatement(counted, viewMode, card, [&](const reports::StatementPage &page) {
            pageDone(page);
            if (progress && !progress(done, total))
                throw Stopped{};
        });
    } catch (const Stopped &) {
        return kStatementStopped;
    }
}

reports::Statement reports::buildStatement(const reports::ReportRowSource &rows, qint16 viewMode, const QString &card, const QDate &today)
{
    reports::Statement statement;
    statement.outputDate = reports::statementOutputDate(today);
    reports::composeStatement(rows, viewMode, card, [&](const reports::StatementPage &page) { statement.pages << page; });
    return statement;
}
