#include "reports/StatementPrint.h"

#include "app/Failure.h"
#include "app/Seams.h"
#include "history/ViewCondition.h"
#include "reports/StatementLayout.h"

#include <QPagedPaintDevice>
#include <QPen>
#include <cmath>

using namespace statement_layout;

QFont reports::statementFont(int pointSize, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"), QStringLiteral("Noto Sans Mono CJK JP")});
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setKerning(false);
    f.setPointSize(pointSize);
    f.setBold(bold);
    return f;
}

void reports::setStatementPage(QPagedPaintDevice &device)
{
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageOrientation(QPageLayout::Landscape);
    if (device.pageLayout().margins(QPageLayout::Millimeter).isNull())
        device.setPageMargins(QMarginsF(kPdfMarginMm, kPdfMarginMm, kPdfMarginMm, kPdfMarginMm),
                              QPageLayout::Millimeter);
}

reports::StatementSheet::~StatementSheet()
{
    if (m_painter.isActive())
        m_painter.end();
}

void reports::StatementSheet::begin()
{
    if (m_painter.isActive())
        return;
    if (!m_painter.begin(&m_device))
        throw Failure(482, QStringLiteral("印刷を開始できません。"));
    m_painter.setPen(Qt::black);
    m_painter.setFont(m_font);
    m_y = 0;
}

double reports::StatementSheet::twips(double t) const { return t * m_device.logicalDpiY() / 1440.0; }

void reports::StatementSheet::setFont(int pointSize, bool bold)
{
    m_font = reports::statementFont(pointSize, bold);
    if (m_painter.isActive())
        m_painter.setFont(m_font);
}

void reports::StatementSheet::printLine(const QString &text)
{
    begin();
    const double em = twips(m_font.pointSize() * 20.0);
    const QString drawn = text.trimmed().isEmpty() ? QString() : text;
    if (!drawn.isEmpty())
        m_painter.drawText(QPointF(0, m_y + em * kAscentEm), drawn);
    m_y += em;
}

void reports::StatementSheet::rule(int twipsBelow, int dots)
{
    begin();
    const double y = std::floor(m_y + twips(twipsBelow));
    QPen pen(Qt::black);
    pen.setWidth(dots);
    m_painter.setPen(pen);
    const double width = m_device.width();
    m_painter.drawLine(QPointF(0, y), QPointF(width, y));
    m_painter.setPen(Qt::black);
}

void reports::StatementSheet::newPage()
{
    begin();
    if (!m_device.newPage())
        throw Failure(482, QStringLiteral("改ページできません。"));
    m_y = 0;
}

bool reports::StatementSheet::end() { return !m_painter.isActive() || m_painter.end(); }

void reports::paintPageHeader(reports::StatementSheet &sheet, qint32 pageNumber, const QString &outputDate)
{
    app::tagged(app::Procedure::StatementPageHeader, [&] {
        const QStringList lines = reports::statementHeaderLines(pageNumber, outputDate);
        sheet.setFont(kTitlePoints, true);
        sheet.printLine(lines[TitleLine]);
        sheet.setFont(kBodyPoints, false);
        sheet.printLine(lines[DateLine]);
        sheet.printLine(lines[PageLine]);
        sheet.printLine(lines[EmptyLine]);
        sheet.setFont(kHeadingPoints, true);
        sheet.printLine(lines[HeadingLine]);
        sheet.rule(kRuleTwipsBelow, kRuleDots);
        sheet.printLine(QString());
        sheet.setFont(kBodyPoints, false);
    });
}

qint32 reports::printStatement(QPagedPaintDevice &device, const reports::ReportRowSource &rows, qint16 viewMode, const QString &card,
                               const QString &outputDate, const reports::ReportProgress &progress, qint64 total)
{
    reports::setStatementPage(device);
    reports::StatementSheet sheet(device);
    const qint32 pages = reports::composeStoppable(
        rows, viewMode, card,
        [&](const reports::StatementPage &page) {
            if (page.number > 1)
                sheet.newPage();
            reports::paintPageHeader(sheet, page.number, outputDate);
            for (const QString &line : page.body)
                sheet.printLine(line);
        },
        progress, total);
    if (pages == kStatementStopped)
        return pages; // the sheet ends the painter; the caller drops the output
    if (!sheet.end())
        throw Failure(482, QStringLiteral("印刷を終了できません。"));
    return pages;
}

qint32 reports::paintStatement(QPagedPaintDevice &device, const history::ViewQuery &view, const QString &card,
                               const reports::ReportProgress &progress)
{
    return app::tagged(app::Procedure::StatementPages, [&] {
        const QString outputDate = reports::statementOutputDate(seams::now().date());
        const QString statement = reports::shownRowsStatement(view);
        const qint64 total = progress ? reports::reportRowCount(statement) : 0;
        reports::QueryRows rows(statement);
        return printStatement(device, std::ref(rows), view.viewType, card, outputDate, progress, total);
    });
}
