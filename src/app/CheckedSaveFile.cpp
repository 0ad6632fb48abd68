#include "app/CheckedSaveFile.h"

#include <QDir>

namespace {
// Written to the file system in pieces of this size: few calls, each checked.
constexpr qsizetype kChunkBytes = 64 * 1024;
} // namespace

CheckedSaveFile::CheckedSaveFile(const QString &target) : m_file(target) {}

CheckedSaveFile::~CheckedSaveFile() { CheckedSaveFile::close(); }

bool CheckedSaveFile::open(OpenMode mode)
{
    if ((mode & ReadOnly) || !(mode & WriteOnly))
        return false;
    m_failed = false;
    m_chunk.clear();
    // Unbuffered: the only buffer is ours, so that every write reaching the
    // file system is one whose result is checked below.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        setErrorString(m_file.errorString());
        return false;
    }
    m_chunk.reserve(kChunkBytes);
    return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

void CheckedSaveFile::close()
{
    // commit() after cancelWriting() removes the temporary file and keeps the target.
    if (m_file.isOpen()) {
        m_file.cancelWriting();
        m_file.commit();
    }
    m_chunk.clear();
    if (isOpen())
        QIODevice::close();
}

bool CheckedSaveFile::writeOut(const char *data, qint64 len)
{
    // A full disk may take part of a write and refuse the rest; only a write
    // that took every byte counts as done.
    const qint64 written = m_file.write(data, len);
    if (written != len) {
        setErrorString(m_file.errorString());
        m_failed = true;
        return false;
    }
    return true;
}

qint64 CheckedSaveFile::writeData(const char *data, qint64 len)
{
    if (m_failed || !m_file.isOpen())
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

bool CheckedSaveFile::commit()
{
    if (!m_file.isOpen())
        return false;
    if (!m_failed && !m_chunk.isEmpty())
        writeOut(m_chunk.constData(), m_chunk.size());
    m_chunk.clear();
    QIODevice::close();
    if (m_failed) {
        close();
        return false;
    }
    if (!m_file.commit()) {
        setErrorString(m_file.errorString());
        m_failed = true;
        return false;
    }
    return true;
}

QString fileNotWrittenText(const QString &what, const QString &path, bool oldFileKept)
{
    QString text = what + QStringLiteral("を書き込めませんでした。ディスクの空き容量と書き込み権限を確認してください。") +
                   QStringLiteral("\r\n\r\n") + QDir::toNativeSeparators(path);
    if (oldFileKept)
        text += QStringLiteral("\r\n\r\n※既存のファイルは変更されていません。");
    return text;
}
