#include "reports/StatementPdf.h"
#include "reports/PdfObjects.h"

#include "app/Failure.h"
#include "app/Seams.h"
#include "history/ViewCondition.h"
#include "reports/StatementLayout.h"
#include "reports/StatementPrint.h"

#include <QBuffer>
#include <QIODevice>
#include <QPageLayout>
#include <QPdfWriter>
#include <cmath>
#include <optional>

using namespace statement_layout;
using namespace reports::pdf;

namespace {

// The painter works in the dots of QPdfWriter's 1200 dpi, on Qt's page
// layout, and rounds the printable area and the rule's position to them; the
// same arithmetic here keeps file and paper alike.
constexpr int kDots = 1200;
constexpr double kDotToPoints = 72.0 / kDots;
// A font without a bold face is made bold by stroking the outlines as well,
// this much of the font size wide.
constexpr double kSyntheticBoldStroke = 0.03;
// Pages are compressed quickly: their lines repeat, and the stronger levels
// only cost time for a few per cent.
constexpr int kPageCompression = 1;

// The statement's pages, each as one compressed content stream, in the
// order and at the places StatementSheet puts them on paper.
class StatementPdfWriter {
public:
    StatementPdfWriter(QIODevice &out, const QString &outputDate, const reports::StatementPdfInfo &info)
        : m_pdf(out), m_outputDate(outputDate), m_info(info)
    {
        // The page as QPdfWriter sets it up for the painter (its own default
        // margins included), so that the text lands on the same spots.
        QBuffer unused;
        QPdfWriter device(&unused);
        reports::setStatementPage(device);
        const QPageLayout layout = device.pageLayout();
        m_pageSize = layout.fullRectPoints().size();
        m_printable = layout.paintRectPixels(kDots);
        m_pdf.buffer() += "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
        m_catalog = m_pdf.reserve();
        m_pages = m_pdf.reserve();
        m_resources = m_pdf.reserve();
        for (int &font : m_fontObjects)
            font = m_pdf.reserve();
        m_infoObject = m_pdf.reserve();
        m_pdf.object(m_resources, "<< /Font << /F0 " + QByteArray::number(m_fontObjects[0]) + " 0 R /F1 " +
                                      QByteArray::number(m_fontObjects[1]) + " 0 R >> /ProcSet [/PDF /Text] >>");
    }

    void page(const reports::StatementPage &page)
    {
        m_content.resize(0);
        m_content += "2 J\n"; // the painter's square line ends
        m_y = 0;
        m_font = -1;
        const QStringList header = reports::statementHeaderLines(page.number, m_outputDate);
        line(header[TitleLine], kTitlePoints, true);
        line(header[DateLine], kBodyPoints, false);
        line(header[PageLine], kBodyPoints, false);
        line(header[EmptyLine], kBodyPoints, false);
        line(header[HeadingLine], kHeadingPoints, true);
        rule();
        line(QString(), kHeadingPoints, true);
        for (const QString &text : page.body)
            line(text, kBodyPoints, false);

        const int contents = m_pdf.reserve(), pageObject = m_pdf.reserve();
        m_pdf.stream(contents, m_deflatePage(m_content));
        QByteArray &out = m_pdf.beginObject(pageObject);
        out += "<< /Type /Page /Parent ";
        appendInt(out, m_pages);
        out += " 0 R /Contents ";
        appendInt(out, contents);
        out += " 0 R >>";
        m_pdf.endObject();
        m_pageObjects.push_back(pageObject);
    }

    void finish()
    {
        Deflater deflate(Z_DEFAULT_COMPRESSION);
        for (int i = 0; i < 2; ++i)
            m_fonts[i].write(m_pdf, deflate, m_fontObjects[i]);
        QByteArray &pages = m_pdf.beginObject(m_pages);
        pages += "<< /Type /Pages /MediaBox [0 0 ";
        appendInt(pages, m_pageSize.width());
        pages += ' ';
        appendInt(pages, m_pageSize.height());
        pages += "] /Resources ";
        appendInt(pages, m_resources);
        pages += " 0 R /Count ";
        appendInt(pages, qint64(m_pageObjects.size()));
        pages += " /Kids [";
        for (const int p : m_pageObjects) {
            appendInt(pages, p);
            pages += " 0 R ";
        }
        pages += "] >>";
        m_pdf.endObject();
        m_pdf.object(m_catalog, "<< /Type /Catalog /Pages " + QByteArray::number(m_pages) + " 0 R >>");
        m_pdf.object(m_infoObject, "<< /Title " + pdfText(m_info.title) + " /Creator " + pdfText(m_info.creator) +
                                       " /Producer " + pdfText(m_info.creator) + " >>");
        m_pdf.finish(m_catalog, m_infoObject);
    }

private:
    // One line at the print position, which then moves down one line of the
    // font; like the painter, a line of blanks is not drawn.
    void line(const QString &text, int points, bool bold)
    {
        const double em = points * kDots / 72.0;
        qsizetype end = text.size();
        while (end > 0 && text[end - 1].isSpace())
            --end;
        if (end > 0) {
            const int f = bold ? 1 : 0;
            m_content += "BT\n";
            if (f != m_font || points != m_points) {
                m_font = f;
                m_points = points;
                m_content += f ? "/F1 " : "/F0 ";
                appendNumber(m_content, std::round(points * kDots / 72.0) * kDotToPoints); // whole dots, as painted
                m_content += " Tf\n";
                if (m_fonts[f].syntheticBold()) {
                    m_content += "2 Tr ";
                    appendNumber(m_content, points * kSyntheticBoldStroke);
                    m_content += " w\n";
                } else {
                    m_content += "0 Tr\n";
                }
            }
            appendNumber(m_content, m_printable.left() * kDotToPoints);
            m_content += ' ';
            appendNumber(m_content, pageY(m_y + em * kAscentEm));
            m_content += " Td\n(";
            m_fonts[f].appendGlyphs(m_content, QStringView(text).left(end));
            m_content += ")Tj\nET\n";
        }
        m_y += em;
    }

    // Points from the bottom of the page of a position in dots below the top margin.
    double pageY(double dots) const { return m_pageSize.height() - (m_printable.top() + dots) * kDotToPoints; }

    void rule()
    {
        const double y = pageY(std::floor(m_y + kRuleTwipsBelow * kDots / 1440.0));
        appendNumber(m_content, kRuleDots * kDotToPoints);
        m_content += " w ";
        appendNumber(m_content, m_printable.left() * kDotToPoints);
        m_content += ' ';
        appendNumber(m_content, y);
        m_content += " m ";
        appendNumber(m_content, (m_printable.left() + m_printable.width()) * kDotToPoints);
        m_content += ' ';
        appendNumber(m_content, y);
        m_content += " l S\n";
        m_font = -1; // the line width of a stroked bold font is set again
    }

    PdfFile m_pdf;
    QString m_outputDate;
    reports::StatementPdfInfo m_info;
    PdfFont m_fonts[2] = {PdfFont(reports::statementFont(kBodyPoints, false)), PdfFont(reports::statementFont(kTitlePoints, true))};
    int m_fontObjects[2] = {0, 0};
    int m_catalog = 0, m_pages = 0, m_resources = 0, m_infoObject = 0;
    std::vector<int> m_pageObjects;
    Deflater m_deflatePage{kPageCompression};
    QSize m_pageSize;  // points
    QRect m_printable; // dots
    QByteArray m_content;
    double m_y = 0; // print position below the top margin, in dots
    int m_font = -1;
    int m_points = 0;
};

} // namespace

qint32 reports::writeStatementPdf(QIODevice &out, const reports::ReportRowSource &rows, qint16 viewMode, const QString &card,
                                  const QString &outputDate, const reports::StatementPdfInfo &info, const reports::ReportProgress &progress,
                                  qint64 total)
{
    std::optional<StatementPdfWriter> writer; // begun with the first page: no rows, no file
    const qint32 pages = reports::composeStoppable(
        rows, viewMode, card,
        [&](const reports::StatementPage &page) {
            if (!writer)
                writer.emplace(out, outputDate, info);
            writer->page(page);
        },
        progress, total);
    if (pages == kStatementStopped)
        return pages;
    if (writer)
        writer->finish();
    return pages;
}

qint32 reports::writeStatementPdf(QIODevice &out, const history::ViewQuery &view, const QString &card,
                                  const reports::StatementPdfInfo &info, const reports::ReportProgress &progress)
{
    return app::tagged(app::Procedure::WriteStatementPdf, [&] {
        const QString outputDate = reports::statementOutputDate(seams::now().date());
        const QString statement = reports::shownRowsStatement(view);
        const qint64 total = progress ? reports::reportRowCount(statement) : 0;
        reports::QueryRows rows(statement);
        return writeStatementPdf(out, std::ref(rows), view.viewType, card, outputDate, info, progress, total);
    });
}
