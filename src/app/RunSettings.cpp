#include "app/RunSettings.h"

namespace {
app::RunSettings g_runSettings;
app::RunSettings *g_currentSettings = &g_runSettings;
} // namespace

app::RunSettings &app::runSettings() { return *g_currentSettings; }

app::RunSettingsScope::RunSettingsScope() : m_before(g_currentSettings) { g_currentSettings = &m_settings; }

app::RunSettingsScope::~RunSettingsScope() { g_currentSettings = m_before; }
