#pragma once
// A file written beside its target and moved into place only when every byte
// reached the file system. QSaveFile alone does not promise that: its own
// write buffer is flushed when it is closed, and a flush that fails there (a
// full disk) is not seen by commit(), which then puts the short file in place
// of the old one. Here the file is written unbuffered, in chunks of our own,
// and every write is checked, short ones included; after a failure commit()
// refuses, removes the temporary file and leaves the target as it was.
//
// Only a regular file (or a symbolic link to one, which stays a link) is
// replaced that way. A FIFO or a device (/dev/null, a printer port) is
// written into directly, every write still checked; a folder is refused.
//
// A document (a CSV file, a PDF) is never written onto a file the program
// itself keeps: the history file, its logs and clean-end marker, the masters,
// the settings file. They are compared by file identity (device and inode),
// so that a link or another spelling of the path does not get past.
//
// It is a QIODevice, so that writers that only know a device (QPdfWriter)
// go through the same checks.

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>

namespace app {

class CheckedSaveFile : public QIODevice {
public:
    enum class Kind {
        Document,    // the user's output: refused onto the program's own files
        ProgramFile, // one of the program's own files (the settings file)
    };
    explicit CheckedSaveFile(const QString &target, Kind kind = Kind::Document);
    ~CheckedSaveFile() override; // without a commit, the target stays and the temporary file goes

    // Write-only; creates the temporary file beside the target. False, with
    // refused() and a Japanese errorString(), for a target that must not be
    // written (a folder, one of the program's own files).
    bool open(OpenMode mode) override;
    void close() override; // gives up: same as destroying it uncommitted
    bool setPermissions(QFileDevice::Permissions permissions) { return device().setPermissions(permissions); }

    // Writes the rest and moves the file into place. False if anything failed
    // since open(): the target is then untouched and nothing is left beside it
    // (written directly into a FIFO or a device, what went out is gone).
    bool commit();
    bool failed() const { return m_failed; }
    bool refused() const { return m_refused; }
    // True once open() found a FIFO or a device: the bytes go straight into it.
    bool writesDirectly() const { return m_direct; }
    QString target() const { return m_target; }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override;

private:
    bool writeOut(const char *data, qint64 len);
    QFileDevice &device() { return m_direct ? static_cast<QFileDevice &>(m_plain) : m_file; }

    QString m_target;
    Kind m_kind;
    QSaveFile m_file;
    QFile m_plain;
    QByteArray m_chunk;
    bool m_direct = false;
    bool m_failed = false;
    bool m_refused = false;
};

// A path as the standard library's file system functions take it.
std::filesystem::path fileSystemPath(const QString &path);

// True when a and b are one file: the same device and inode when both
// exist, otherwise the same name in the same folder (a log not made yet is
// still its own).
bool sameFile(const QString &a, const QString &b);

// Opens file for writing; a refusal (a folder, one of the program's own
// files) throws ExpectedFailure with its Japanese text, any other failure
// the path/file access error.
void openForWriting(CheckedSaveFile &file);

// The files the program keeps beside the settings file: the history layer
// names its database files here when it opens them.
void setProgramFilesSource(std::function<QStringList()> source);
// Why path must not receive a document (Japanese, empty when it may): it is
// a folder, or one of the program's own files under any name.
QString documentTargetRefusal(const QString &path);

// The warning for a file that could not be written, for example on a full
// disk: what, the file, and whether an older file of that name is still as it was.
QString fileNotWrittenText(const QString &what, const QString &path, bool oldFileKept);

} // namespace app
