#pragma once
// The program's version, set once in the build (project version).

#include <QString>

namespace app {

// "3.0.0.8": major, minor, patch and revision.
QString programVersion();

} // namespace app
