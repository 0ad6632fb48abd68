#pragma once
// The end of the session (logout, shutdown, a terminal's Ctrl+C) reaches the
// program as a signal on Unix. The handler only notes it; the given function
// then runs on the user-interface thread, between two events.

#include <functional>

namespace start {

// Runs onEnd on SIGTERM, SIGINT and SIGHUP. Does nothing where there are no
// such signals (Windows ends a session through the session manager).
void watchEndSignals(std::function<void()> onEnd);

} // namespace start
