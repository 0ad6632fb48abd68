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
    return {qRound(size.width() * ratio), qRound(size.height() * ratio),
            screen->logicalDotsPerInchX() * ratio, screen->logicalDotsPerInchY() * ratio, ratio};
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
    // Temp is per user on Windows; on a shared /tmp the real user keeps users
    // apart, whatever the environment says.
#ifdef Q_OS_UNIX
    const passwd *account = ::getpwuid(::getuid());
    const QString user = account && account->pw_name && *account->pw_name
                             ? QString::fromLocal8Bit(account->pw_name)
                             : QString::number(::getuid());
#else
    const QString user = qEnvironmentVariable("USERNAME", QStringLiteral("user"));
#endif
    return QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
        .filePath(QStringLiteral("PASSLOG-%1.lock").arg(user));
}

} // namespace seams
