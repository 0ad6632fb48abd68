#pragma once
// A small PDF writer: objects numbered as they are reserved and written in
// any order, compressed streams, and fonts embedded as subsets of the glyphs
// drawn with them (CID fonts, Identity-H, with a ToUnicode map). What the
// statement's file is made of; the statement's drawing is in StatementPdf.

#include "app/Failure.h"

#include <QByteArray>
#include <QFont>
#include <QIODevice>
#include <QRawFont>
#include <QString>
#include <QStringView>

#include <vector>
#include <zlib.h>

namespace reports::pdf {

// Bytes kept before they go to the device.
constexpr qsizetype kFlushBytes = 1 << 20;

// A whole number in decimal.
void appendInt(QByteArray &out, long long v);
// At most two decimals, without trailing zeros: "14.17", "0.6", "12".
void appendNumber(QByteArray &out, double v);
// A text string of the document information: UTF-16BE with its byte order mark.
QByteArray pdfText(const QString &text);

// A big-endian 16-bit number of a font table (0 past its end).
inline quint16 be16(const QByteArray &table, int at)
{
    return at + 2 <= table.size() ? quint16(uchar(table[at]) << 8 | uchar(table[at + 1])) : 0;
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

} // namespace reports::pdf
