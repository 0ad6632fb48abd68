#include "reports/StatementPdf.h"
#include "app/ProgramState.h"

#include "app/Failure.h"
#include "app/Seams.h"
#include "history/ViewCondition.h"
#include "reports/StatementLayout.h"
#include "reports/StatementPrint.h"

#include <QBuffer>
#include <QIODevice>
#include <QPageLayout>
#include <QPdfWriter>
#include <QRawFont>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>
#include <memory>
#include <optional>
#include <vector>
#include <zlib.h>

using namespace statement_layout;

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
constexpr qsizetype kFlushBytes = 1 << 20;

void appendInt(QByteArray &out, long long v)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr - buf);
}

// At most two decimals, without trailing zeros: "14.17", "0.6", "12".
void appendNumber(QByteArray &out, double v)
{
    long long n = std::llround(v * 100);
    if (n < 0) {
        out += '-';
        n = -n;
    }
    appendInt(out, n / 100);
    const int f = int(n % 100);
    if (f) {
        out += '.';
        out += char('0' + f / 10);
        if (f % 10)
            out += char('0' + f % 10);
    }
}

// A text string of the document information: UTF-16BE with its byte order mark.
QByteArray pdfText(const QString &text)
{
    QByteArray out = "<FEFF";
    for (const QChar c : text)
        out += QByteArray::number(c.unicode() + 0x10000, 16).mid(1).toUpper();
    return out + '>';
}

// zlib's deflate in the zlib format, which FlateDecode reads (qCompress puts
// a length before it). One stream is reset for each page.
class Deflater {
public:
    explicit Deflater(int level)
    {
        if (deflateInit(&m_z, level) != Z_OK)
            throw Failure(7, QStringLiteral("メモリが不足しています。"));
    }
    ~Deflater() { deflateEnd(&m_z); }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    const QByteArray &operator()(const char *data, qsizetype size)
    {
        deflateReset(&m_z);
        m_out.resize(qsizetype(deflateBound(&m_z, uLong(size))));
        m_z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_z.avail_in = uInt(size);
        m_z.next_out = reinterpret_cast<Bytef *>(m_out.data());
        m_z.avail_out = uInt(m_out.size());
        if (deflate(&m_z, Z_FINISH) != Z_STREAM_END)
            throw Failure(7, QStringLiteral("メモリが不足しています。"));
        m_out.resize(qsizetype(m_z.total_out));
        return m_out;
    }
    const QByteArray &operator()(const QByteArray &data) { return (*this)(data.constData(), data.size()); }

private:
    z_stream m_z{};
    QByteArray m_out;
};

// The objects of the file as they are written: each object's offset for the
// cross-reference table at the end. Objects are numbered when reserved and
// may be written in any order.
class PdfFile {
public:
    explicit PdfFile(QIODevice &device) : m_device(device) { m_offsets.push_back(0); }

    int reserve()
    {
        m_offsets.push_back(-1);
        return int(m_offsets.size() - 1);
    }
    // "n 0 obj" is written; the caller appends the body to buffer(), then calls endObject().
    QByteArray &beginObject(int n)
    {
        m_offsets[size_t(n)] = m_written + m_buffer.size();
        appendInt(m_buffer, n);
        m_buffer += " 0 obj\n";
        return m_buffer;
    }
    void endObject()
    {
        m_buffer += "\nendobj\n";
        if (m_buffer.size() >= kFlushBytes)
            flush();
    }
    void object(int n, const QByteArray &body)
    {
        beginObject(n) += body;
        endObject();
    }
    // A stream of already compressed data; entries: more of its dictionary.
    void stream(int n, const QByteArray &data, const QByteArray &entries = {})
    {
        QByteArray &out = beginObject(n);
        out += "<< /Filter /FlateDecode /Length ";
        appendInt(out, data.size());
        out += entries;
        out += " >>\nstream\n";
        out += data;
        out += "\nendstream";
        endObject();
    }
    QByteArray &buffer() { return m_buffer; }

    void finish(int root, int info)
    {
        const qint64 xref = m_written + m_buffer.size();
        m_buffer += "xref\n0 ";
        appendInt(m_buffer, qint64(m_offsets.size()));
        m_buffer += "\n0000000000 65535 f \n";
        char entry[21];
        for (size_t n = 1; n < m_offsets.size(); ++n) {
            std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(m_offsets[n]));
            m_buffer.append(entry, 20);
        }
        m_buffer += "trailer\n<< /Size ";
        appendInt(m_buffer, qint64(m_offsets.size()));
        m_buffer += " /Root ";
        appendInt(m_buffer, root);
        m_buffer += " 0 R /Info ";
        appendInt(m_buffer, info);
        m_buffer += " 0 R >>\nstartxref\n";
        appendInt(m_buffer, xref);
        m_buffer += "\n%%EOF\n";
        flush();
    }

private:
    // After a refused write nothing more is written: the file is given up.
    void flush()
    {
        if (!m_failed && m_device.write(m_buffer) != m_buffer.size())
            m_failed = true;
        m_written += m_buffer.size();
        m_buffer.resize(0); // keeps its capacity
    }

    QIODevice &m_device;
    QByteArray m_buffer;
    qint64 m_written = 0;
    bool m_failed = false;
    std::vector<qint64> m_offsets; // by object number; 0 is the free head
};

quint16 be16(const QByteArray &table, int at)
{
    return at + 2 <= table.size() ? quint16(uchar(table[at]) << 8 | uchar(table[at + 1])) : 0;
}
qint16 signed16(const QByteArray &table, int at) { return qint16(be16(table, at)); }

struct HbDeleter {
    void operator()(hb_face_t *face) const { hb_face_destroy(face); }
    void operator()(hb_blob_t *blob) const { hb_blob_destroy(blob); }
    void operator()(hb_font_t *font) const { hb_font_destroy(font); }
    void operator()(hb_subset_input_t *input) const { hb_subset_input_destroy(input); }
};
template <class T> using HbPtr = std::unique_ptr<T, HbDeleter>;

// A blob that owns a copy of the bytes (Qt's implicit sharing: no copy).
HbPtr<hb_blob_t> blobOf(const QByteArray &bytes)
{
    auto *held = new QByteArray(bytes);
    return HbPtr<hb_blob_t>(hb_blob_create(held->constData(), uint(held->size()), HB_MEMORY_MODE_READONLY, held,
                                           [](void *p) { delete static_cast<QByteArray *>(p); }));
}

// One font of the statement, embedded at the end as a subset of the glyphs
// drawn with it: a CID font, Identity-H, each code a glyph id; its ToUnicode
// map names, for each glyph, the first character it was drawn for.
class PdfFont {
public:
    explicit PdfFont(const QFont &font) : m_raw(QRawFont::fromFont(font)), m_glyphOfUnit(0x10000, kUnknown)
    {
        // Without a bold face of its own (weight class below semi-bold) the painter makes it bold.
        const QByteArray os2 = m_raw.fontTable("OS/2");
        m_syntheticBold = font.bold() && os2.size() >= 6 && be16(os2, 4) < 600;
    }
    bool syntheticBold() const { return m_syntheticBold; }

    // The glyph ids of text, two bytes each, escaped for a PDF literal string.
    void appendGlyphs(QByteArray &out, QStringView text)
    {
        const qsizetype start = out.size();
        out.resize(start + text.size() * 4);
        char *p = out.data() + start;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t unit = text[i].unicode();
            quint32 glyph = m_glyphOfUnit[unit];
            if (glyph == kUnknown) {
                if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                    glyph = lookUp(text.data() + i, 2, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
                    ++i;
                } else {
                    glyph = m_glyphOfUnit[unit] = lookUp(text.data() + i, 1, unit);
                }
            }
            for (const uchar b : {uchar(glyph >> 8), uchar(glyph)}) {
                if (b == '(' || b == ')' || b == '\\') {
                    *p++ = '\\';
                    *p++ = char(b);
                } else if (b == '\r') { // a bare CR would be read as a line end
                    *p++ = '\\';
                    *p++ = 'r';
                } else {
                    *p++ = char(b);
                }
            }
        }
        out.resize(p - out.constData());
    }

    // Writes the font's objects; type0 is the number the pages refer to.
    void write(PdfFile &pdf, Deflater &deflate, int type0) const;

private:
    static constexpr quint32 kUnknown = 0xFFFFFFFF;

    quint32 lookUp(const QChar *chars, int n, char32_t character)
    {
        quint32 glyphs[2] = {0, 0};
        int count = 2;
        if (!m_raw.glyphIndexesForChars(chars, n, glyphs, &count) || count < 1)
            glyphs[0] = 0;
        const quint32 glyph = glyphs[0] & 0xFFFF;
        if (glyph == 0) // a character the font lacks: the empty box stands for none
            return glyph;
        if (glyph >= m_textOf.size())
            m_textOf.resize(glyph + 1, 0);
        if (m_textOf[glyph] == 0)
            m_textOf[glyph] = character;
        return glyph;
    }

    QRawFont m_raw;
    bool m_syntheticBold = false;
    std::vector<quint32> m_glyphOfUnit; // by UTF-16 code unit outside surrogates
    std::vector<char32_t> m_textOf;     // by glyph id; 0: not drawn
};

void PdfFont::write(PdfFile &pdf, Deflater &deflate, int type0) const
{
    // The face as QRawFont reads it (a font file, or one face of a
    // collection, whichever the painter uses), put together again for
    // HarfBuzz's subsetter. Layout and vertical tables are left out.
    HbPtr<hb_face_t> builder(hb_face_builder_create());
    bool cff = false;
    for (const char *tag : {"CFF ", "glyf", "loca", "head", "hhea", "hmtx", "maxp", "OS/2", "post", "name", "cvt ",
                            "fpgm", "prep", "gasp"}) {
        const QByteArray table = m_raw.fontTable(tag);
        if (table.isEmpty())
            continue;
        cff = cff || qstrcmp(tag, "CFF ") == 0;
        hb_face_builder_add_table(builder.get(), hb_tag_from_string(tag, 4), blobOf(table).get());
    }
    HbPtr<hb_blob_t> sfnt(hb_face_reference_blob(builder.get()));
    HbPtr<hb_face_t> face(hb_face_create(sfnt.get(), 0));
    HbPtr<hb_font_t> font(hb_font_create(face.get()));
    const double unit = 1000.0 / std::max(1u, hb_face_get_upem(face.get()));

    std::vector<quint32> used{0};
    for (size_t g = 1; g < m_textOf.size(); ++g)
        if (m_textOf[g])
            used.push_back(quint32(g));

    // The pages use the glyph ids as codes (CIDs). A CID-keyed CFF font
    // keeps each glyph's CID in its subset, which then maps the code to the
    // glyph; a TrueType font's glyphs keep their ids (CIDToGIDMap Identity).
    HbPtr<hb_subset_input_t> input(hb_subset_input_create_or_fail());
    if (!input)
        throw Failure(7, QStringLiteral("メモリが不足しています。"));
    for (const quint32 g : used)
        hb_set_add(hb_subset_input_glyph_set(input.get()), g);
    hb_subset_input_set_flags(input.get(), cff ? HB_SUBSET_FLAGS_DEFAULT : HB_SUBSET_FLAGS_RETAIN_GIDS);
    HbPtr<hb_face_t> subset(hb_subset_or_fail(face.get(), input.get()));
    if (!subset)
        throw Failure(482, QStringLiteral("フォントを埋め込めません。"));
    HbPtr<hb_blob_t> program(cff ? hb_face_reference_table(subset.get(), HB_TAG('C', 'F', 'F', ' '))
                                 : hb_face_reference_blob(subset.get()));
    unsigned programSize = 0;
    const char *programData = hb_blob_get_data(program.get(), &programSize);

    // The PostScript name with a subset tag made of the glyphs it holds.
    char name[128] = {};
    unsigned nameSize = sizeof name;
    hb_ot_name_get_utf8(face.get(), HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &nameSize, name);
    QByteArray baseFont;
    size_t hash = qHashBits(used.data(), used.size() * sizeof(quint32), size_t(type0));
    for (int i = 0; i < 6; ++i, hash /= 26)
        baseFont += char('A' + hash % 26);
    baseFont += '+';
    for (const char *c = name; *c; ++c)
        if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '-' || *c == '_')
            baseFont += *c;
    if (baseFont.size() == 7)
        baseFont += "StatementFont";

    const int cidFont = pdf.reserve(), descriptor = pdf.reserve(), file = pdf.reserve(), toUnicode = pdf.reserve();

    QByteArray body = "<< /Type /Font /Subtype /Type0 /BaseFont /" + baseFont +
                      " /Encoding /Identity-H /DescendantFonts [" + QByteArray::number(cidFont) + " 0 R] /ToUnicode " +
                      QByteArray::number(toUnicode) + " 0 R >>";
    pdf.object(type0, body);

    // Full-width glyphs are the default width; the others are listed.
    body = "<< /Type /Font /Subtype /" + QByteArray(cff ? "CIDFontType0" : "CIDFontType2") + " /BaseFont /" +
           baseFont + " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor " +
           QByteArray::number(descriptor) + " 0 R /DW 1000 /W [";
    for (const quint32 g : used) {
        const long long width = std::llround(hb_font_get_glyph_h_advance(font.get(), g) * unit);
        if (width == 1000)
            continue;
        appendInt(body, g);
        body += " [";
        appendInt(body, width);
        body += "] ";
    }
    body += "]";
    if (!cff)
        body += " /CIDToGIDMap /Identity";
    body += " >>";
    pdf.object(cidFont, body);

    const QByteArray head = m_raw.fontTable("head"), hhea = m_raw.fontTable("hhea"), os2 = m_raw.fontTable("OS/2");
    const auto scaled = [&](double v) { return QByteArray::number(std::llround(v * unit)); };
    const int capHeight = be16(os2, 0) >= 2 && os2.size() >= 90 ? signed16(os2, 88) : signed16(hhea, 4);
    body = "<< /Type /FontDescriptor /FontName /" + baseFont + " /Flags 5 /FontBBox [" + scaled(signed16(head, 36)) +
           ' ' + scaled(signed16(head, 38)) + ' ' + scaled(signed16(head, 40)) + ' ' + scaled(signed16(head, 42)) +
           "] /ItalicAngle 0 /Ascent " + scaled(signed16(hhea, 4)) + " /Descent " + scaled(signed16(hhea, 6)) +
           " /CapHeight " + scaled(capHeight) + " /StemV 80 /" + QByteArray(cff ? "FontFile3" : "FontFile2") + ' ' +
           QByteArray::number(file) + " 0 R >>";
    pdf.object(descriptor, body);
    pdf.stream(file, deflate(programData, qsizetype(programSize)),
               cff ? QByteArray(" /Subtype /CIDFontType0C") : " /Length1 " + QByteArray::number(programSize));

    QByteArray cmap = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    std::vector<quint32> mapped;
    for (const quint32 g : used)
        if (g < m_textOf.size() && m_textOf[g])
            mapped.push_back(g);
    char entry[32];
    for (size_t i = 0; i < mapped.size(); i += 100) { // at most 100 entries a block
        const size_t n = std::min<size_t>(100, mapped.size() - i);
        appendInt(cmap, qint64(n));
        cmap += " beginbfchar\n";
        for (size_t k = i; k < i + n; ++k) {
            const char32_t c = m_textOf[mapped[k]];
            if (c > 0xFFFF)
                std::snprintf(entry, sizeof entry, "<%04X> <%04X%04X>\n", unsigned(mapped[k]),
                              unsigned(QChar::highSurrogate(c)), unsigned(QChar::lowSurrogate(c)));
            else
                std::snprintf(entry, sizeof entry, "<%04X> <%04X>\n", unsigned(mapped[k]), unsigned(c));
            cmap += entry;
        }
        cmap += "endbfchar\n";
    }
    cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    pdf.stream(toUnicode, deflate(cmap));
}

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

qint32 reports::writeStatementPdf(QIODevice &out, const QString &card, const reports::StatementPdfInfo &info,
                                  const reports::ReportProgress &progress)
{
    return guarded("basMain_PdfFileCreate", [&] {
        const QString outputDate = reports::statementOutputDate(seams::now().date());
        const QString statement = reports::shownRowsStatement();
        const qint64 total = progress ? reports::reportRowCount(statement) : 0;
        reports::QueryRows rows(statement);
        return writeStatementPdf(out, std::ref(rows), app::state().view.ViewMode, card, outputDate, info, progress, total);
    });
}
