#pragma once
// The settings file in the Windows profile-file way: section and key names are
// looked up without regard to case, a missing key or file reads as "ERROR",
// values are at most 254 bytes, a new key goes at the end of its section and a
// new section at the end of the file, every other line keeps its place, and
// the file is read and written in code page 932 with CRLF line ends.

#include <QString>

inline const QString kIniMissing = QStringLiteral("ERROR");

namespace app {

QString readProfileString(const QString &section, const QString &key, const QString &file);
// False when the file cannot be written (a read-only folder, say): like the
// platform call it replaces, a failed write is not an error of the program.
bool writeProfileString(const QString &section, const QString &key, const QString &value,
                        const QString &file);

} // namespace app
