#pragma once
// The window's fonts, with Noto Sans CJK JP standing in where the Windows
// Japanese fonts are not installed.

#include <QFont>

namespace ui {

QFont pGothicFont(double pointSize);  // "ＭＳ Ｐゴシック" (proportional)
QFont gothicFont(double pointSize);   // "ＭＳ ゴシック" (fixed pitch)

} // namespace ui
