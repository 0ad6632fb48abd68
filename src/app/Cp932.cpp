#include "app/Cp932.h"

#include <QVector>
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <unicode/ucnv.h>

namespace cp932 {
namespace {
struct ConverterCloser {
    void operator()(UConverter *c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// ICU converters keep state and are not thread-safe: one per thread.
UConverter *converter()
{
    thread_local Converter conv = [] {
        UErrorCode status = U_ZERO_ERROR;
        Converter c(ucnv_open("windows-31j", &status));
        if (U_FAILURE(status) || !c)
            throw std::runtime_error("code page 932 converter is not available");
        status = U_ZERO_ERROR;
        ucnv_setSubstChars(c.get(), "?", 1, &status);
        return c;
    }();
    ucnv_reset(conv.get());
    return conv.get();
}
} // namespace

QByteArray encode(const QString &text)
{
    if (text.isEmpty())
        return {};
    UConverter *conv = converter();
    QByteArray out(text.size() * 2 + 8, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(conv, out.data(), int32_t(out.size()),
                                reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()),
                                &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(n + 1);
        status = U_ZERO_ERROR;
        n = ucnv_fromUChars(conv, out.data(), int32_t(out.size()),
                            reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()), &status);
    }
    if (U_FAILURE(status))
        return QByteArray(text.size(), '?');
    out.resize(n);
    return out;
}

QString decode(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    UConverter *conv = converter();
    QVector<UChar> out(bytes.size() * 2 + 8);
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(conv, out.data(), int32_t(out.size()), bytes.constData(),
                              int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return QString::fromLatin1(bytes);
    return QString(reinterpret_cast<const QChar *>(out.constData()), n);
}

bool decodeExact(QByteArrayView bytes, QString &out)
{
    // A converter of its own that stops at the first byte it cannot read,
    // where the shared one puts a replacement character.
    thread_local Converter strict = [] {
        UErrorCode status = U_ZERO_ERROR;
        Converter c(ucnv_open("windows-31j", &status));
        if (U_FAILURE(status) || !c)
            throw std::runtime_error("code page 932 converter is not available");
        status = U_ZERO_ERROR;
        ucnv_setToUCallBack(c.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        return c;
    }();
    ucnv_reset(strict.get());
    if (bytes.isEmpty()) {
        out.clear();
        return true;
    }
    QString text(bytes.size(), Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_toUChars(strict.get(), reinterpret_cast<UChar *>(text.data()), int32_t(text.size()),
                                    bytes.data(), int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return false;
    text.resize(n);
    out = std::move(text);
    return true;
}

Utf8Encoder::Utf8Encoder() : m_bmp(new quint32[0x10000]()) {}

quint32 Utf8Encoder::lookUp(char32_t codePoint)
{
    const bool bmp = codePoint < 0x10000;
    if (bmp && m_bmp[codePoint] != 0)
        return m_bmp[codePoint];
    const QByteArray bytes = encode(QString::fromUcs4(&codePoint, 1));
    // Code page 932 has one or two bytes a character; anything else would be a
    // converter failure, which encode() gives as "?" per unit.
    const quint32 entry = bytes.size() == 2   ? (2u << 16) | (quint32(quint8(bytes[0])) << 8) | quint8(bytes[1])
                          : bytes.size() == 1 ? (1u << 16) | quint8(bytes[0])
                                              : (1u << 16) | quint32('?');
    if (bmp)
        m_bmp[codePoint] = entry;
    return entry;
}

void Utf8Encoder::append(std::string_view utf8, QByteArray &out, bool doubleQuotes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    // No character gives more than two bytes for each of its UTF-8 bytes.
    const qsizetype start = out.size();
    out.resize(start + 2 * qsizetype(utf8.size()));
    char *w = out.data() + start;
    while (p < end) {
        char32_t cp = *p;
        if (cp < 0x80) {
            ++p;
        } else {
            // The length from the lead byte; a bad lead, a missing or bad
            // continuation byte, an overlong form or a surrogate is one "?".
            int extra = cp >= 0xF0 && cp < 0xF5 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC2 && cp < 0xE0 ? 1 : -1;
            if (cp >= 0xF5)
                extra = -1;
            cp &= extra == 3 ? 0x07 : extra == 2 ? 0x0F : 0x1F;
            const unsigned char *q = p + 1;
            for (int i = 0; i < extra; ++i, ++q) {
                if (q >= end || (*q & 0xC0) != 0x80) {
                    extra = -1;
                    break;
                }
                cp = (cp << 6) | (*q & 0x3F);
            }
            if (extra < 0 || (extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) ||
                (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
                *w++ = '?';
                p = extra < 0 ? std::max(p + 1, q) : q;
                continue;
            }
            p = q;
        }
        const quint32 entry = lookUp(cp);
        if (entry >> 16 == 2) {
            *w++ = char(entry >> 8);
            *w++ = char(entry);
        } else {
            *w++ = char(entry);
            if (doubleQuotes && cp == U'"')
                *w++ = '"';
        }
    }
    out.resize(w - out.constData());
}

int width(const QString &text) { return int(encode(text).size()); }

int width(char32_t codePoint)
{
    if (codePoint < 0x80)
        return 1;
    char16_t units[2];
    int len = 0;
    if (codePoint > 0xFFFF) {
        units[0] = QChar::highSurrogate(codePoint);
        units[1] = QChar::lowSurrogate(codePoint);
        len = 2;
    } else {
        units[0] = char16_t(codePoint);
        len = 1;
    }
    return width(QString(reinterpret_cast<const QChar *>(units), len));
}
} // namespace cp932
