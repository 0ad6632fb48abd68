#pragma once
// The program's icon, drawn rather than stored so that every size is sharp:
// a toll card with its chip and the lines of a usage statement.

#include <QImage>

namespace app {

QImage programIcon(int size);

} // namespace app
