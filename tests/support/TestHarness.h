#pragma once
// Replaces every seam of the program for one test: message boxes answered from
// a queue and recorded, the end of the program turned into an exception, a
// fixed clock, a 1280 x 1024 screen at 96 dpi, a fresh program folder and a
// the run's settings, history store and reader line of its own.

#include "app/RunSettings.h"
#include "history/HistoryStore.h"
#include "app/Failure.h"
#include "app/Seams.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <type_traits>

class TestHarness {
public:
    TestHarness();
    ~TestHarness();

    // Answers for the next questions, in order. Information and warning boxes
    // take no answer; a question with no queued answer is answered "No".
    void queueAnswer(seams::MsgAnswer answer) { m_answers << answer; }
    const QList<seams::Message> &messages() const { return m_messages; }
    QStringList messageTexts() const;
    void clearMessages() { m_messages.clear(); }

    // Save-file dialog: the next chosen paths (empty = cancel).
    void queueSaveFile(const QString &path) { m_saveFiles << path; }

    void setNow(const QDateTime &now);
    QDateTime now() const { return m_now; }

    // The folder the program runs from during this test (holds the settings
    // file and the databases) and the settings file in it.
    QString programFolder() const { return m_dir.path(); }
    QString settingsFile() const;
    QString lockPath() const;

private:
    app::RunSettingsScope m_settings;
    history::StoreScope m_store;
    QTemporaryDir m_dir;
    QList<seams::MsgAnswer> m_answers;
    QList<seams::Message> m_messages;
    QStringList m_saveFiles;
    QDateTime m_now;
};

// Runs f as a command of the window runs it: a failure the user can act on
// is shown as a warning and f's result is the default value; any other ends
// the program with the error report.
template <typename F>
auto asCommand(F &&f) -> decltype(f())
{
    try {
        return f();
    } catch (const ExpectedFailure &e) {
        if (!e.description().isEmpty())
            app::showWarning(e.description());
        if constexpr (!std::is_void_v<decltype(f())>)
            return {};
    } catch (const Failure &e) {
        app::reportFailureAndEnd(e, app::Procedure::StartProgram);
    }
}

// Runs f as a command and returns true if it ended the program.
template <typename F>
bool endsProgram(F &&f)
{
    try {
        asCommand(f);
    } catch (const seams::ProgramEnded &) {
        return true;
    }
    return false;
}

#include <QRegularExpression>
// A completion without the line that says where the file went.
inline QStringList doneTexts(QStringList texts)
{
    for (QString &t : texts)
        t.remove(QRegularExpression(QStringLiteral("\\r\\n[^\\r\\n]* に保存しました。$")));
    return texts;
}
