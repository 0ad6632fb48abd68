#pragma once
// Window geometry as the windows were designed: in twips, 1/1440 inch, which
// is 15 twips a pixel at 96 dpi. Every control is created with its system
// name as object name.

#include "ui/UiFonts.h"

#include <QString>
#include <QtMath>

namespace ui {

inline int twipsToPx(double twips) { return qRound(twips / 15.0); }

// Names a control and puts it at its designed place.
template <typename W>
W *place(W *w, const char *name, double left, double top, double width, double height)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(twipsToPx(left), twipsToPx(top), twipsToPx(width), twipsToPx(height));
    return w;
}

// A dialog's control: placed, in the dialogs' 9-point font.
template <typename W>
W *placeInDialog(W *w, const char *name, double left, double top, double width, double height)
{
    place(w, name, left, top, width, height)->setFont(pGothicFont(9));
    return w;
}

} // namespace ui
