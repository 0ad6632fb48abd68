#include "ui/Progress.h"

#include "app/Common.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressDialog>

#include <memory>

namespace ui {

namespace {
ProgressHandler g_progress;
} // namespace

void setProgressHandler(ProgressHandler handler)
{
    g_progress = std::move(handler);
}

namespace {
// The real progress window of one piece of work. Reports are frequent and
// cheap; only every ~100 ms does one move the bar and let the window repaint.
class ProgressWindow {
public:
    ProgressWindow(QWidget *window, const QString &label) : m_dialog(label, QStringLiteral("中止"), 0, 0, window)
    {
        m_dialog.setWindowTitle(kAppTitle);
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(400);
        m_dialog.setAutoReset(false);
        m_dialog.setAutoClose(false);
        m_sinceEvents.start();
    }

    bool report(qint64 done, qint64 total)
    {
        if (m_sinceEvents.elapsed() < kEventsEveryMs)
            return !m_dialog.wasCanceled();
        m_sinceEvents.restart();
        // In thousandths: the bar's range is an int, the rows may not be.
        const int range = total > 0 ? 1000 : 0;
        if (m_dialog.maximum() != range)
            m_dialog.setRange(0, range);
        m_dialog.setValue(total > 0 ? int(qMin(done, total) * 1000 / total) : 0);
        // Until the dialog shows, clicks and keys wait: the window must not
        // start another command in the middle of this one.
        QCoreApplication::processEvents(m_dialog.isVisible() ? QEventLoop::AllEvents
                                                             : QEventLoop::ExcludeUserInputEvents);
        return !m_dialog.wasCanceled();
    }

private:
    static constexpr qint64 kEventsEveryMs = 100;
    QProgressDialog m_dialog;
    QElapsedTimer m_sinceEvents;
};

} // namespace

// The progress of one piece of work, through the handler when there is one.

std::function<bool(qint64, qint64)> progressOf(QWidget *window, const QString &label)
{
    if (g_progress)
        return [handler = g_progress, label](qint64 done, qint64 total) { return handler(label, done, total); };
    auto progress = std::make_shared<ProgressWindow>(window, label);
    return [progress](qint64 done, qint64 total) { return progress->report(done, total); };
}

std::function<bool()> busyProgressOf(QWidget *window, const QString &label)
{
    auto progress = progressOf(window, label);
    return [progress] { return progress(0, 0); };
}

} // namespace ui
