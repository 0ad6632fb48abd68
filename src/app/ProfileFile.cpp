#include "app/ProfileFile.h"

#include "app/CheckedSaveFile.h"
#include "app/Cp932.h"
#include "app/Failure.h"

#include <QFile>
#include <QStringList>

namespace {
constexpr int kMaxValueBytes = 254;

// The file as raw byte lines, each with its own line end ("\r\n", "\n", or
// none for an unterminated last line). A write replaces or inserts whole
// lines and leaves the bytes of every other line as they were.
QList<QByteArray> readRawLines(const QString &file, bool *exists)
{
    QFile f(file);
    *exists = f.open(QIODevice::ReadOnly);
    if (!*exists)
        return {};
    const QByteArray bytes = f.readAll();
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype nl = bytes.indexOf('\n', start);
        const qsizetype end = nl < 0 ? bytes.size() : nl + 1;
        lines << bytes.mid(start, end - start);
        start = end;
    }
    return lines;
}

// The text of one raw line for matching, without its line end. Neither "\r"
// nor "\n" is ever a trail byte in code page 932, so cutting the bytes at
// line ends never splits a character.
QString lineText(const QByteArray &raw)
{
    qsizetype n = raw.size();
    if (n > 0 && raw[n - 1] == '\n')
        --n;
    if (n > 0 && raw[n - 1] == '\r')
        --n;
    return cp932::decode(raw.left(n));
}

QStringList readLines(const QString &file, bool *exists)
{
    QStringList lines;
    for (const QByteArray &raw : readRawLines(file, exists))
        lines << lineText(raw);
    return lines;
}

// "[name]" (blanks around allowed); empty optional when the line is no section line.
bool sectionName(const QString &line, QString *name)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return false;
    const int close = t.indexOf(QLatin1Char(']'));
    *name = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
    return true;
}

// "key=value"; false for comments, blank lines and lines without "=".
bool keyLine(const QString &line, QString *key, QString *value)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')))
        return false;
    const int eq = t.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    *key = t.left(eq).trimmed();
    if (value)
        *value = t.mid(eq + 1).trimmed();
    return true;
}

bool sameName(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Index range [first line after the header, end) of the section, or -1.
int findSection(const QStringList &lines, const QString &section, int *end)
{
    for (int i = 0; i < lines.size(); ++i) {
        QString name;
        if (sectionName(lines[i], &name) && sameName(name, section)) {
            int j = i + 1;
            QString other;
            while (j < lines.size() && !sectionName(lines[j], &other))
                ++j;
            *end = j;
            return i + 1;
        }
    }
    return -1;
}

QString cutToBytes(const QString &value, int maxBytes)
{
    if (cp932::width(value) <= maxBytes)
        return value;
    QString out;
    int used = 0;
    for (char32_t cp : value.toUcs4()) {
        const int w = cp932::width(cp);
        if (used + w > maxBytes)
            break;
        out += QString::fromUcs4(&cp, 1);
        used += w;
    }
    return out;
}

QByteArray rawLine(const QString &text) { return cp932::encode(text) + "\r\n"; }

bool writeLines(const QString &file, QList<QByteArray> lines)
{
    // Only the last line of a file may lack its line end; a line put after it gets one.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        if (!lines[i].endsWith('\n'))
            lines[i] += "\r\n";
    // Written to a temporary file and renamed only when every byte is written,
    // so neither a crash nor a full disk ever leaves half a file.
    const bool existed = QFile::exists(file);
    app::CheckedSaveFile f(file, app::CheckedSaveFile::Kind::ProgramFile);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    // A new file holds private settings (folders of the user): readable by its
    // owner only. An existing file keeps its permissions.
    if (!existed)
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const QByteArray &l : lines)
        if (f.write(l) != l.size())
            return false; // the temporary file goes, the old file stays
    return f.commit();
}
} // namespace

QString app::readProfileString(const QString &section, const QString &key, const QString &file)
{
    return app::tagged(app::Procedure::ReadSetting, [&]() -> QString {
        bool exists = false;
        const QStringList lines = readLines(file, &exists);
        int end = 0;
        const int begin = findSection(lines, section, &end);
        if (begin < 0)
            return kIniMissing;
        for (int i = begin; i < end; ++i) {
            QString k, v;
            if (keyLine(lines[i], &k, &v) && sameName(k, key)) {
                // Matching quotes around a value are not part of it.
                if (v.size() >= 2 && ((v.front() == QLatin1Char('"') && v.back() == QLatin1Char('"')) ||
                                      (v.front() == QLatin1Char('\'') && v.back() == QLatin1Char('\''))))
                    v = v.mid(1, v.size() - 2);
                return cutToBytes(v, kMaxValueBytes);
            }
        }
        return kIniMissing;
    });
}

bool app::writeProfileString(const QString &section, const QString &key, const QString &value,
                             const QString &file)
{
    return app::tagged(app::Procedure::WriteSetting, [&] {
        bool exists = false;
        QList<QByteArray> raw = readRawLines(file, &exists);
        QStringList lines;
        for (const QByteArray &r : raw)
            lines << lineText(r);
        // A line break inside the value would start lines (keys, sections) of its own.
        QString flat = value;
        flat.remove(QLatin1Char('\r'));
        flat.remove(QLatin1Char('\n'));
        const QByteArray entry = rawLine(key + QLatin1Char('=') + flat);
        int end = 0;
        const int begin = findSection(lines, section, &end);
        if (begin < 0) {
            raw << rawLine(QLatin1Char('[') + section + QLatin1Char(']')) << entry;
            return writeLines(file, raw);
        }
        int lastKey = begin - 1;
        for (int i = begin; i < end; ++i) {
            QString k;
            if (keyLine(lines[i], &k, nullptr)) {
                if (sameName(k, key)) {
                    raw[i] = entry;
                    return writeLines(file, raw);
                }
                lastKey = i;
            }
        }
        raw.insert(lastKey + 1, entry);
        return writeLines(file, raw);
    });
}
