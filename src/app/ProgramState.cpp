#include "app/ProgramState.h"

namespace {
app::ProgramState g_runState;
app::ProgramState *g_current = &g_runState;
} // namespace

app::ProgramState &app::state() { return *g_current; }

app::StateScope::StateScope() : m_before(g_current) { g_current = &m_state; }

app::StateScope::~StateScope() { g_current = m_before; }
