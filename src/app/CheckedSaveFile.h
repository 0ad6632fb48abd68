#pragma once
// A file written beside its target and moved into place only when every byte
// reached the file system. QSaveFile alone does not promise that: its own
// write buffer is flushed when it is closed, and a flush that fails there (a
// full disk) is not seen by commit(), which then puts the short file in place
// of the old one. Here the file is written unbuffered, in chunks of our own,
// and every write is checked, short ones included; after a failure commit()
// refuses, removes the temporary file and leaves the target as it was.
//
// It is a QIODevice, so that writers that only know a device (QPdfWriter)
// go through the same checks.

#include <QByteArray>
#include <QIODevice>
#include <QSaveFile>
#include <QString>

class CheckedSaveFile : public QIODevice {
public:
    explicit CheckedSaveFile(const QString &target);
    ~CheckedSaveFile() override; // without a commit, the target stays and the temporary file goes

    // Write-only; creates the temporary file beside the target.
    bool open(OpenMode mode) override;
    void close() override; // gives up: same as destroying it uncommitted
    bool setPermissions(QFileDevice::Permissions permissions) { return m_file.setPermissions(permissions); }

    // Writes the rest and moves the file into place. False if anything failed
    // since open(): the target is then untouched and nothing is left beside it.
    bool commit();
    bool failed() const { return m_failed; }
    QString target() const { return m_file.fileName(); }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override;

private:
    bool writeOut(const char *data, qint64 len);

    QSaveFile m_file;
    QByteArray m_chunk;
    bool m_failed = false;
};

// The warning for a file that could not be written, for example on a full
// disk: what, the file, and whether an older file of that name is still as it was.
QString fileNotWrittenText(const QString &what, const QString &path, bool oldFileKept);
