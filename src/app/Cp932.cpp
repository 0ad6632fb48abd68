#include "app/Cp932.h"

#include <QVector>
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
