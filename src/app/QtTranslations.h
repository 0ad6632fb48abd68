#pragma once
// Qt's own texts (the message boxes' buttons, the file dialog, the print
// preview, the serial port's error texts) in Japanese, like the program's
// own texts, whatever the user's locale says.

#include <QString>
#include <QStringList>

// The catalogues loaded: Qt's base texts (qtbase_ja.qm, which holds the
// widgets, the dialogs and the print support) and the serial port's.
inline const QStringList kQtCatalogues{QStringLiteral("qtbase_ja.qm"), QStringLiteral("qtserialport_ja.qm")};

namespace app {

// Where the catalogues are looked for, in order: Qt's own translations folder
// (Debian's qt6-translations-l10n), then the copies the program ships beside
// itself or in its installed data folder.
QStringList qtTranslationFolders();

// Loads each catalogue from the first folder that holds it into the
// application; a second call changes nothing. Returns the files loaded.
QStringList installQtTranslations(const QStringList &folders = qtTranslationFolders());

} // namespace app
