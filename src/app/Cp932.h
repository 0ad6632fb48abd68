#pragma once
// Code page 932 (Windows Shift-JIS, "windows-31j"), through ICU. The settings
// file and the CSV file are written in it, and fixed-width layouts measure
// text in its bytes: ASCII and half-width katakana 1, kanji and kana 2, a
// character it cannot represent becomes "?" of width 1.

#include <QByteArray>
#include <QString>

namespace cp932 {
QByteArray encode(const QString &text);
QString decode(const QByteArray &bytes);
// Byte width of a whole text.
int width(const QString &text);
// Byte width of one code point.
int width(char32_t codePoint);
} // namespace cp932
