#pragma once
// The settings file beside the program: its name, the start-up read of
// app::readSettingsFile, and the one-key save used by the dialogs and the export.

#include <QString>

inline const QString kSectionMain = QStringLiteral("PASSLOG");
inline const QString kSectionPort = QStringLiteral("RS232C");

namespace app {

// app::runSettings().programFolder + executable base name + ".ini".
QString settingsFileName();

void readSettingsFile();

// For a run that must leave the settings file as it is (the demo): from now
// on the start reads the file without writing app::runSettings().programFolder into it, and
// saveSetting changes only the values in memory. A missing file is still
// created with the defaults, as at any first start.
void holdSettingsFileForThisRun();
bool settingsFileHeldForThisRun();

// Writes one key if the settings file exists; otherwise warns with the file
// name followed by " が見つかりません。" and does not create it. True if written
// (or held for this run); false also when the file exists but cannot be written.
bool saveSetting(const QString &section, const QString &key, const QString &value);

// The leading-number value of a text, like the runtime's Val: "3" -> 3,
// " 12abc" -> 12, "COM3" -> 0, "" -> 0.
int leadingNumber(const QString &text);

// The reader's port number from the app::runSettings().comPort setting.
int comPortNumber();

} // namespace app
