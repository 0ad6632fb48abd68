#pragma once
// "passlog --demo": the program tried without the card reader. The reader
// emulator that ships with the program plays the reader, with the sample card
// inserted, on a pseudo-terminal linked in the user's runtime folder; for
// this run the configured reader port means that link. The settings file is
// left as it is, the window's title says デモ, and the emulator ends with
// the program (its end sequence, an end signal, or the program's death).

#include <QCommandLineOption>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QLockFile;
class QProcess;

namespace ui {
class MainWindow;
}

namespace start {

QCommandLineOption demoOption();

struct DemoFiles {
    QString emulator; // the reader emulator's executable
    QString card;     // the sample card image
    QString missing;  // when one is not found: what is missing, in Japanese
};

// Looks in the given folders, in order, for the emulator (as
// passlog-reader-emulator, reader-emulator or, in a build folder,
// tools/reader-emulator/reader-emulator) and for sample-card.txt, then for
// the emulator on the PATH.
DemoFiles findDemoFiles(const QStringList &folders);
// The folders the program looks in: its own, then where it is installed.
QStringList demoFolders();

// The demo of a run: the emulator it started, the pseudo-terminal's link
// that the configured port means meanwhile, and the demo's own history. The
// application object holds it (it ends with it); the end sequence ends it
// through DemoSession::ofThisRun().
class DemoSession : public QObject {
    Q_OBJECT
public:
    explicit DemoSession(QObject *application);
    ~DemoSession() override;

    // Starts the emulator and points the configured port at it; the settings
    // file is held for this run. Empty when running; otherwise why not.
    QString start(const DemoFiles &files);
    bool running() const;
    // The pseudo-terminal's link the port means during the demo.
    QString readerLink() const { return m_readerLink; }
    // Ends the emulator (its link goes with it), the port's override and the
    // demo's history. Safe to call when nothing runs.
    void stop();

    // The session the application object holds, or none.
    static DemoSession *ofThisRun();

private:
    std::unique_ptr<QProcess> m_emulator;
    // Held while the demo's history exists: a later demo removes the folders
    // whose holder is gone (a demo killed without its end).
    std::unique_ptr<QLockFile> m_historyLock;
    QString m_historyFolder;
    QString m_readerLink;
};

// " (デモ)" appended to the main window's title.
void markDemoWindow(ui::MainWindow *window);

// For the package check without a display: when PASSLOG_DEMO_READ_AND_QUIT is
// set, presses カード読込 once it is offered (within 30 s), then ends the
// program through its end sequence.
void readCardAndQuitWhenAsked(ui::MainWindow *window);

} // namespace start
