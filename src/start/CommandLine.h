#pragma once
// The command line: "--help", "--version" and "--copy-history-to-server"
// answered without a window, and the subcommands (passlog export …), each a
// function of its own that gets the words after its name.

#include <QStringList>
#include <optional>

namespace start {

void setApplicationInfo();

// The exit status when the command line asked for something other than the
// window; nothing when the window should start.
std::optional<int> answerCommandLine(int argc, char *argv[]);

// A subcommand's run: args are its own words, args[0] being "passlog <name>".
// Exit status 0 done, 1 the job failed, 2 a usage error.
using SubcommandRun = int (*)(const QStringList &args);

struct Subcommand {
    const char *name;
    const char *summary;          // one line of "passlog --help"
    SubcommandRun run;
    // True when the run lays out text (a PDF) for these words: it then gets
    // the font database of a GUI application, still without a display.
    bool (*needsFonts)(const QStringList &args) = nullptr;
};

// The subcommands, in the order "passlog --help" lists them.
const QList<Subcommand> &subcommands();

} // namespace start
