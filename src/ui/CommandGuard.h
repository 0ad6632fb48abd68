#pragma once
// The one place where a command's failure becomes what the user sees. Each
// command of the window (and each step the start runs) goes through
// guarded(): a failure the user can act on ends the command with a warning
// and hands the caller a default value, so the window carries on; any other
// ends the program with the common error report, named after the innermost
// procedure the failure passed through (the command's own when none).
// Commands inside a command pass a warning on to the outermost one.

#include "app/Failure.h"

#include <type_traits>
#include <utility>

template <typename Body>
decltype(auto) guarded(app::Procedure procedure, Body &&body)
{
    const detail::GuardedLevel level;
    try {
        return std::forward<Body>(body)();
    } catch (const ExpectedFailure &f) {
        if (detail::guardedDepth > 1)
            throw;
        if (!f.description().isEmpty()) // work the user stopped says nothing more
            app::showWarning(f.description());
        using Result = decltype(std::forward<Body>(body)());
        if constexpr (!std::is_void_v<Result>)
            return Result{};
    } catch (...) {
        app::reportFailureAndEnd(app::failureOf(std::current_exception(), procedure), procedure);
    }
}
