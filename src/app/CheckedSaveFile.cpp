#include "app/CheckedSaveFile.h"

#include "app/Failure.h"
#include "app/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <filesystem>

namespace {
// Written to the file system in pieces of this size: few calls, each checked.
constexpr qsizetype kChunkBytes = 64 * 1024;

std::function<QStringList()> &programFilesSource()
{
    static std::function<QStringList()> source;
    return source;
}

} // namespace

std::filesystem::path app::fileSystemPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    // The file system's own bytes: a wide text would go through the C
    // library's locale, which cannot hold Japanese names in the "C" locale.
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

namespace {
const auto fsPath = app::fileSystemPath;

bool sameName(const QString &a, const QString &b)
{
#ifdef Q_OS_WIN
    return a.compare(b, Qt::CaseInsensitive) == 0;
#else
    return a == b;
#endif
}

} // namespace

bool app::sameFile(const QString &a, const QString &b)
{
    std::error_code error;
    const bool aExists = std::filesystem::exists(fsPath(a), error);
    const bool bExists = std::filesystem::exists(fsPath(b), error);
    if (aExists && bExists)
        return std::filesystem::equivalent(fsPath(a), fsPath(b), error) && !error;
    const QFileInfo ia(a), ib(b);
    if (!sameName(ia.fileName(), ib.fileName()))
        return false;
    const QString folderA = ia.absolutePath(), folderB = ib.absolutePath();
    return std::filesystem::equivalent(fsPath(folderA), fsPath(folderB), error) && !error;
}

void app::setProgramFilesSource(std::function<QStringList()> source) { programFilesSource() = std::move(source); }

QString app::documentTargetRefusal(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (QFileInfo(path).isDir())
        return QStringLiteral("出力先はフォルダです。ファイル名を指定してください。\r\n\r\n") + shown;
    QStringList own{app::settingsFileName()};
    if (const auto &source = programFilesSource())
        own << source();
    for (const QString &file : std::as_const(own))
        if (!file.isEmpty() && sameFile(path, file))
            return QStringLiteral("出力先はこのプログラムが使っているファイルです(") +
                   QDir::toNativeSeparators(file) +
                   QStringLiteral(")。利用履歴や設定が失われるため、書き込みません。別のファイル名を指定してください。"
                                  "\r\n\r\n") +
                   shown + QStringLiteral("\r\n\r\n※既存のファイルは変更されていません。");
    return {};
}

void app::openForWriting(app::CheckedSaveFile &file)
{
    if (file.open(QIODevice::WriteOnly))
        return;
    if (file.refused())
        throw ExpectedFailure(75, file.errorString());
    throw Failure(75, QStringLiteral("パス/ファイル アクセス エラーです。") + file.target() + QStringLiteral(": ") +
                          file.errorString());
}

app::CheckedSaveFile::CheckedSaveFile(const QString &target, Kind kind)
    : m_target(target), m_kind(kind), m_file(target), m_plain(target)
{
}

app::CheckedSaveFile::~CheckedSaveFile() { app::CheckedSaveFile::close(); }

bool app::CheckedSaveFile::open(OpenMode mode)
{
    if ((mode & ReadOnly) || !(mode & WriteOnly))
        return false;
    m_failed = false;
    m_refused = false;
    m_chunk.clear();
    const QFileInfo info(m_target); // a symbolic link: what it points to
    const QString refusal = m_kind == Kind::Document ? app::documentTargetRefusal(m_target)
                            : info.isDir()           ? app::documentTargetRefusal(m_target)
                                                     : QString();
    if (!refusal.isEmpty()) {
        m_refused = true;
        setErrorString(refusal);
        return false;
    }
    // A FIFO or a device is no file to replace: the bytes go into it.
    m_direct = info.exists() && !info.isFile();
    // Unbuffered: the only buffer is ours, so that every write reaching the
    // file system is one whose result is checked below.
    const bool opened = m_direct ? m_plain.open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::ExistingOnly)
                                 : m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (!opened) {
        setErrorString(device().errorString());
        return false;
    }
    m_chunk.reserve(kChunkBytes);
    return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

void app::CheckedSaveFile::close()
{
    // commit() after cancelWriting() removes the temporary file and keeps the target.
    if (m_file.isOpen()) {
        m_file.cancelWriting();
        m_file.commit();
    }
    if (m_plain.isOpen())
        m_plain.close();
    m_chunk.clear();
    if (isOpen())
        QIODevice::close();
}

bool app::CheckedSaveFile::writeOut(const char *data, qint64 len)
{
    // A full disk may take part of a write and refuse the rest; only a write
    // that took every byte counts as done.
    const qint64 written = device().write(data, len);
    if (written != len) {
        setErrorString(device().errorString());
        m_failed = true;
        return false;
    }
    return true;
}

qint64 app::CheckedSaveFile::writeData(const char *data, qint64 len)
{
    if (m_failed || !device().isOpen())
        return -1;
    if (m_chunk.size() + len > kChunkBytes) {
        if (!m_chunk.isEmpty() && !writeOut(m_chunk.constData(), m_chunk.size()))
            return -1;
        m_chunk.clear();
        if (len >= kChunkBytes)
            return writeOut(data, len) ? len : -1;
    }
    m_chunk.append(data, len);
    return len;
}

bool app::CheckedSaveFile::commit()
{
    if (!device().isOpen())
        return false;
    if (!m_failed && !m_chunk.isEmpty())
        writeOut(m_chunk.constData(), m_chunk.size());
    m_chunk.clear();
    QIODevice::close();
    if (m_failed) {
        close();
        return false;
    }
    if (m_direct) {
        const bool flushed = m_plain.flush();
        m_plain.close();
        if (!flushed || m_plain.error() != QFileDevice::NoError) {
            setErrorString(m_plain.errorString());
            m_failed = true;
            return false;
        }
        return true;
    }
    if (!m_file.commit()) {
        setErrorString(m_file.errorString());
        m_failed = true;
        return false;
    }
    return true;
}

QString app::fileNotWrittenText(const QString &what, const QString &path, bool oldFileKept)
{
    QString text = what + QStringLiteral("を書き込めませんでした。ディスクの空き容量と書き込み権限を確認してください。") +
                   QStringLiteral("\r\n\r\n") + QDir::toNativeSeparators(path);
    if (oldFileKept)
        text += QStringLiteral("\r\n\r\n※既存のファイルは変更されていません。");
    return text;
}
