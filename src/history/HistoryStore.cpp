#include "history/HistoryStore.h"

namespace {
history::HistoryStore g_runStore;
history::HistoryStore *g_currentStore = &g_runStore;
} // namespace

history::HistoryStore &history::store() { return *g_currentStore; }

history::StoreScope::StoreScope() : m_before(g_currentStore) { g_currentStore = &m_store; }

history::StoreScope::~StoreScope() { g_currentStore = m_before; }
