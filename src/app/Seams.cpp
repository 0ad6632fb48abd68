#include "app/Seams.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace seams {
namespace {
MessageBoxHandler g_messageBox;
SaveFileHandler g_saveFile;
ProgramEndHandler g_programEnd;
ClockHandler g_clock;
std::optional<ScreenMetrics> g_screen;
QString g_programFile;
QString g_lockPath;

// Without a window system there is nobody to ask: the text goes to the
// error stream and the answer is the one that changes nothing.
MsgAnswer unattendedMessageBox(const Message &m)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(m.title), qPrintable(m.text));
    switch (m.buttons) {
    case MsgButtons::Ok: return MsgAnswer::Ok;
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::YesNoCancel: return MsgAnswer::Cancel;
    }
    return MsgAnswer::No;
}
} // namespace

void setMessageBoxHandler(MessageBoxHandler handler) { g_messageBox = std::move(handler); }
MsgAnswer showMessageBox(const Message &message)
{
    return g_messageBox ? g_messageBox(message) : unattendedMessageBox(message);
}

void setSaveFileHandler(SaveFileHandler handler) { g_saveFile = std::move(handler); }
QString askSaveFileName(const QString &caption, const QString &initialPath, const QString &filter)
{
    return g_saveFile ? g_saveFile(caption, initialPath, filter) : QString();
}

void setProgramEndHandler(ProgramEndHandler handler) { g_programEnd = std::move(handler); }
void endProgram(int exitCode)
{
    if (g_programEnd)
        g_programEnd(exitCode); // a test handler throws ProgramEnded
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

void setClock(ClockHandler handler) { g_clock = std::move(handler); }
QDateTime now() { return g_clock ? g_clock() : QDateTime::currentDateTime(); }

void setScreenMetrics(std::optional<ScreenMetrics> metrics) { g_screen = metrics; }
ScreenMetrics screenMetrics()
{
    if (g_screen)
        return *g_screen;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {0, 0, 96.0, 96.0};
    // Device pixels and dpi, and the scaling that Qt applies to the layout.
    const double ratio = screen->devicePixelRatio();
    const QSize size = screen->size();
    const QSize available = screen->availableSize();
    return {qRound(size.width() * ratio),
            qRound(size.height() * ratio),
            screen->logicalDotsPerInchX() * ratio,
            screen->logicalDotsPerInchY() * ratio,
            ratio,
            qRound(available.width() * ratio),
            qRound(available.height() * ratio)};
}

void setProgramFile(const QString &absoluteExecutablePath) { g_programFile = absoluteExecutablePath; }
static QString programFile()
{
    return g_programFile.isEmpty() ? QCoreApplication::applicationFilePath() : g_programFile;
}
QString programFolder() { return QFileInfo(programFile()).absolutePath(); }
QString programBaseName() { return QFileInfo(programFile()).completeBaseName(); }

void setInstanceLockPath(const QString &path) { g_lockPath = path; }
QString instanceLockPath()
{
    if (!g_lockPath.isEmpty())
        return g_lockPath;
#ifdef Q_OS_UNIX
    const passwd *account = ::getpwuid(::getuid());
    const QString user = account && account->pw_name && *account->pw_name
                             ? QString::fromLocal8Bit(account->pw_name)
                             : QString::number(::getuid());
#else
    const QString user = qEnvironmentVariable("USERNAME", QStringLiteral("user"));
#endif
    const QString name = QStringLiteral("PASSLOG-%1.lock").arg(user);
    // The lock lives in a folder only its user may write, so that nobody else
    // can create it first and keep the program from starting. On Unix that is
    // the user's runtime folder (XDG_RUNTIME_DIR; Qt answers nothing when it
    // is not the user's own with owner-only access), otherwise the user's data
    // folder of the program, created owner-only.
#ifdef Q_OS_UNIX
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return QDir(runtime).filePath(name);
#endif
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!QFileInfo(data).isDir()) {
        QDir().mkpath(QFileInfo(data).absolutePath());
        QDir().mkdir(data, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return QDir(data).filePath(name);
}

} // namespace seams
