#include "reports/PdfObjects.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>
#include <memory>

namespace reports::pdf {

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

namespace {

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

// The PostScript name of face with a subset tag made of the glyphs it holds.
QByteArray subsetFontName(hb_face_t *face, const std::vector<quint32> &used, int type0)
{
    char name[128] = {};
    unsigned nameSize = sizeof name;
    hb_ot_name_get_utf8(face, HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &nameSize, name);
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

    return baseFont;
}

// The map from the codes (glyph ids) the pages use back to the text drawn.
QByteArray toUnicodeCMap(const std::vector<quint32> &used, const std::vector<char32_t> &textOf)
{
    QByteArray cmap = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    std::vector<quint32> mapped;
    for (const quint32 g : used)
        if (g < textOf.size() && textOf[g])
            mapped.push_back(g);
    char entry[32];
    for (size_t i = 0; i < mapped.size(); i += 100) { // at most 100 entries a block
        const size_t n = std::min<size_t>(100, mapped.size() - i);
        appendInt(cmap, qint64(n));
        cmap += " beginbfchar\n";
        for (size_t k = i; k < i + n; ++k) {
            const char32_t c = textOf[mapped[k]];
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
    return cmap;
}

} // namespace

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

    const QByteArray baseFont = subsetFontName(face.get(), used, type0);

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

    pdf.stream(toUnicode, deflate(toUnicodeCMap(used, m_textOf)));
}

} // namespace reports::pdf
