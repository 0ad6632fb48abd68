#pragma once
// Errors as values. A failure carries a number and a description, like the
// platform's own errors, and the procedure in which it arose: the name the
// error report shows (app/Procedures.h). Lower layers run a procedure's body
// through tagged(), which names an unexpected failure after the innermost
// procedure it came from and passes it on; they never show anything. The
// window's commands and the command line decide what the user sees
// (ui/CommandGuard.h, start/CommandLine.cpp).

#include "app/Procedures.h"

#include <QString>
#include <QThread>
#include <exception>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

class Failure : public std::exception {
public:
    Failure(long number, QString description)
        : m_number(number), m_description(std::move(description)), m_what(m_description.toUtf8()) {}
    long number() const { return m_number; }
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }
    // The innermost procedure the failure passed through; none before the
    // first tagged() it meets.
    std::optional<app::Procedure> procedure() const { return m_procedure; }
    Failure taggedWith(app::Procedure procedure) const
    {
        Failure tagged = *this;
        if (!tagged.m_procedure)
            tagged.m_procedure = procedure;
        return tagged;
    }

private:
    long m_number;
    QString m_description;
    QByteArray m_what;
    std::optional<app::Procedure> m_procedure;
};

// A failure the user can do something about (the shared history's server
// is away, a registration the store refused, rows changed by another PC):
// it ends the operation with a warning naming the cause and leaves the
// program running, so that nothing staged or shown is lost and the user can
// try again. Every procedure passes it on; the command shows it.
class ExpectedFailure : public Failure {
public:
    using Failure::Failure;
};

namespace app {

// The failure that ends the program: the common error report, under the
// procedure the failure names (fallback when it names none).
[[noreturn]] void reportErrorAndEnd(const QString &procedureName, long number, const QString &description);
[[noreturn]] void reportFailureAndEnd(const Failure &failure, Procedure fallback);
void showWarning(const QString &message);

// Any exception as a failure of procedure: an expected failure and one
// already named stay as they are, a lack of memory is error 7, anything else
// error 5 with its own text.
Failure failureOf(std::exception_ptr thrown, Procedure procedure);

// Runs a procedure's body; an unexpected failure leaves it named after the
// innermost procedure it passed through.
template <typename Body>
decltype(auto) tagged(Procedure procedure, Body &&body)
{
    try {
        return std::forward<Body>(body)();
    } catch (const ExpectedFailure &) {
        throw;
    } catch (...) {
        throw failureOf(std::current_exception(), procedure);
    }
}

} // namespace app

namespace detail {
// How deep the commands on this thread's stack are nested, counted from the
// innermost event loop: a command that runs inside a modal dialog's own loop
// is an outermost one again (its failure cannot travel through the loop to
// the command that opened the dialog).
inline thread_local int guardedDepth = 0;
inline thread_local int guardedLoopLevel = -1;
struct GuardedLevel {
    GuardedLevel() : m_depth(guardedDepth), m_loopLevel(guardedLoopLevel)
    {
        const int loop = QThread::currentThread()->loopLevel();
        guardedDepth = guardedDepth > 0 && loop == guardedLoopLevel ? guardedDepth + 1 : 1;
        guardedLoopLevel = loop;
    }
    ~GuardedLevel()
    {
        guardedDepth = m_depth;
        guardedLoopLevel = m_loopLevel;
    }
    GuardedLevel(const GuardedLevel &) = delete;
    GuardedLevel &operator=(const GuardedLevel &) = delete;

private:
    int m_depth;
    int m_loopLevel;
};
} // namespace detail

namespace app {

// Runs body and hands an ExpectedFailure from it back to the caller (its
// text; empty when body ran through; a single blank for one without text,
// work the user stopped) instead of showing it: for a caller that has state
// to restore, or a better place to show it.
template <typename Body>
QString expectedFailureOf(Body &&body)
{
    const detail::GuardedLevel level; // a command inside passes the failure on
    try {
        std::forward<Body>(body)();
    } catch (const ExpectedFailure &f) {
        return f.description().isEmpty() ? QStringLiteral(" ") : f.description();
    }
    return {};
}

} // namespace app
