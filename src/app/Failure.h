#pragma once
// Failures carry a number and a description, like the platform's own errors.
// Each procedure covered by the error convention runs its body through
// guarded(): an unexpected failure is handed to the common error report under
// that procedure's reported name (app/Procedures.h), exactly once, and the
// program ends.

#include "app/Procedures.h"

#include <QString>
#include <exception>
#include <new>
#include <type_traits>
#include <utility>

class Failure : public std::exception {
public:
    Failure(long number, QString description)
        : m_number(number), m_description(std::move(description)), m_what(m_description.toUtf8()) {}
    long number() const { return m_number; }
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    long m_number;
    QString m_description;
    QByteArray m_what;
};

// A failure the user can do something about (the shared history's server
// is away, a registration the store refused, rows changed by another PC):
// it ends the operation with a warning naming the cause and leaves the
// program running, so that nothing staged or shown is lost and the user can
// try again. Inner procedures pass it on; the outermost one shows it.
class ExpectedFailure : public Failure {
public:
    using Failure::Failure;
};

namespace app {

[[noreturn]] void reportErrorAndEnd(const QString &procedureName, long number, const QString &description);
void showWarning(const QString &message);

} // namespace app

namespace detail {
inline thread_local int guardedDepth = 0;
struct GuardedLevel {
    GuardedLevel() { ++guardedDepth; }
    ~GuardedLevel() { --guardedDepth; }
    GuardedLevel(const GuardedLevel &) = delete;
    GuardedLevel &operator=(const GuardedLevel &) = delete;
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
    const detail::GuardedLevel level; // guarded() inside passes the failure on
    try {
        std::forward<Body>(body)();
    } catch (const ExpectedFailure &f) {
        return f.description().isEmpty() ? QStringLiteral(" ") : f.description();
    }
    return {};
}

} // namespace app

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
    } catch (const Failure &f) {
        app::reportErrorAndEnd(QString::fromLatin1(app::reportedName(procedure)), f.number(), f.description());
    } catch (const std::bad_alloc &) {
        app::reportErrorAndEnd(QString::fromLatin1(app::reportedName(procedure)), 7, QStringLiteral("メモリが不足しています。"));
    } catch (const std::exception &e) {
        app::reportErrorAndEnd(QString::fromLatin1(app::reportedName(procedure)), 5, QString::fromUtf8(e.what()));
    }
}
