#pragma once
// Every place where the program waits for a person or reads the world goes
// through one of these small replaceable functions, so that tests can run
// the real code without a person, a clock that moves, or a real screen.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace seams {

// ---- message boxes ---------------------------------------------------------
enum class MsgIcon { Information, Warning, Critical };
enum class MsgButtons { Ok, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Yes, No, Cancel };

struct Message {
    MsgIcon icon;
    MsgButtons buttons;
    QString title;
    QString text;
    // The button that Return presses: empty for the box's usual one (はい or
    // OK); No for the questions that delete or replace something.
    std::optional<MsgAnswer> defaultButton = std::nullopt;
    // Captions of the buttons in the order Yes, No, Cancel, for questions
    // whose answers はい/いいえ would not say (empty: the usual ones).
    QStringList buttonTexts = {};
};

using MessageBoxHandler = std::function<MsgAnswer(const Message &)>;
// The window layer installs the real, modal message box at start-up; without
// a handler the text goes to the error stream and nothing is changed.
void setMessageBoxHandler(MessageBoxHandler handler);
MsgAnswer showMessageBox(const Message &message);

// ---- save-file dialog ------------------------------------------------------
// Returns the chosen path, or an empty text when the user cancels. The window
// layer installs the real dialog; without a handler the answer is a cancel.
using SaveFileHandler = std::function<QString(const QString &caption, const QString &initialPath,
                                              const QString &filter)>;
void setSaveFileHandler(SaveFileHandler handler);
QString askSaveFileName(const QString &caption, const QString &initialPath, const QString &filter);

// ---- end of the program ----------------------------------------------------
// The real handler ends the process at once (no further event, no shutdown).
// Tests install a handler that throws ProgramEnded.
struct ProgramEnded {
    int exitCode;
};
using ProgramEndHandler = std::function<void(int exitCode)>;
void setProgramEndHandler(ProgramEndHandler handler);
[[noreturn]] void endProgram(int exitCode);

// ---- clock -----------------------------------------------------------------
using ClockHandler = std::function<QDateTime()>;
void setClock(ClockHandler handler);
QDateTime now();

// ---- screen ----------------------------------------------------------------
// Device pixels and device dots per inch, and the factor by which the window
// system scales the layout (Qt's high-dpi scaling: 1.5 on a display set to
// 150 %). Divided by it, they give the window's own (logical) pixels.
struct ScreenMetrics {
    int widthPx;
    int heightPx;
    double dpiX;
    double dpiY;
    double devicePixelRatio = 1.0;
    // The part a window may take (without task bars and docks), in device
    // pixels; 0 when the whole screen.
    int availableWidthPx = 0;
    int availableHeightPx = 0;
};
void setScreenMetrics(std::optional<ScreenMetrics> metrics);
ScreenMetrics screenMetrics();

// ---- where the program lives -----------------------------------------------
// The program folder holds the settings file and the databases; the
// executable's base name names the settings file.
void setProgramFile(const QString &absoluteExecutablePath);
QString programFolder();
QString programBaseName();

// The lock that a second start by the same user sees: in the user's runtime
// folder on Unix, otherwise (or without one) in the user's data folder.
void setInstanceLockPath(const QString &path);
QString instanceLockPath();

} // namespace seams
