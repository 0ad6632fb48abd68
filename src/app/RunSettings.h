#pragma once
// The settings of this run: what app::readSettingsFile found in the settings
// file (or its defaults), changed by the settings dialogs through
// app::saveSetting. They are the run's, like the settings file they come
// from, so they are reached through app::runSettings() (the settings keys in
// brackets).
//
// This is one of the seams tests replace: a test that needs settings of its
// own opens an app::RunSettingsScope (every TestHarness does); until the scope
// ends app::runSettings() is a fresh set, and the one before comes back.

#include <QString>

namespace app {

struct RunSettings {
    QString programFolder;                    // the program's folder, ending in the path separator [AppPath]
    QString csvFolder;                        // the first folder of the CSV dialogs [CSVPath]
    QString viewSort = QStringLiteral("NEW"); // "NEW" newest first, "OLD" oldest first [ViewSort]
    QString comPort = QStringLiteral("1");    // the reader's port number as decimal text [ComPort]
    // The run leaves the settings file as it is (the demo).
    bool fileHeld = false;
};

RunSettings &runSettings();

class RunSettingsScope {
public:
    RunSettingsScope();
    ~RunSettingsScope();
    RunSettingsScope(const RunSettingsScope &) = delete;
    RunSettingsScope &operator=(const RunSettingsScope &) = delete;

private:
    RunSettings m_settings;
    RunSettings *m_before;
};

} // namespace app
