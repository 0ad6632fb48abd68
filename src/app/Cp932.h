#pragma once
// Code page 932 (Windows Shift-JIS, "windows-31j"), through ICU. The settings
// file and the CSV file are written in it, and fixed-width layouts measure
// text in its bytes: ASCII and half-width katakana 1, kanji and kana 2, a
// character it cannot represent becomes "?" of width 1.

#include <QByteArray>
#include <QString>
#include <memory>
#include <string_view>

namespace cp932 {
QByteArray encode(const QString &text);
QString decode(const QByteArray &bytes);
// The text of bytes that are code page 932 throughout; false (out
// unchanged) when a byte or pair of bytes is no character of it.
bool decodeExact(QByteArrayView bytes, QString &out);
// Byte width of a whole text.
int width(const QString &text);
// Byte width of one code point.
int width(char32_t codePoint);

// UTF-8 text to code page 932 in one pass, with the same bytes as encode()
// of the same text: each code point is asked of the converter once and then
// looked up. Invalid UTF-8 becomes "?". For writers of many texts, one
// encoder per file.
class Utf8Encoder {
public:
    Utf8Encoder();
    // Appends the bytes of the text to out; with doubleQuotes, a '"' becomes '""'.
    void append(std::string_view utf8, QByteArray &out, bool doubleQuotes = false);

private:
    quint32 lookUp(char32_t codePoint);
    std::unique_ptr<quint32[]> m_bmp; // 0: not asked yet, else length << 16 | bytes
};
} // namespace cp932
