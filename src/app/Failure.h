#pragma once
// Failures carry a number and a description, like the platform's own errors.
// Each procedure covered by the error convention runs its body through
// guarded(): an unexpected failure is handed to the common error report under
// that procedure's name, exactly once, and the program ends.

#include <QString>
#include <exception>
#include <new>
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

[[noreturn]] void basCommon_ReportError(const QString &procedureName, long number,
                                        const QString &description);

template <typename Body>
decltype(auto) guarded(const char *procedureName, Body &&body)
{
    try {
        return std::forward<Body>(body)();
    } catch (const Failure &f) {
        basCommon_ReportError(QString::fromLatin1(procedureName), f.number(), f.description());
    } catch (const std::bad_alloc &) {
        basCommon_ReportError(QString::fromLatin1(procedureName), 7, QStringLiteral("メモリが不足しています。"));
    } catch (const std::exception &e) {
        basCommon_ReportError(QString::fromLatin1(procedureName), 5, QString::fromUtf8(e.what()));
    }
}
