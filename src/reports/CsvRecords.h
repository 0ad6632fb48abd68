#pragma once
// CSV取込's reading of a file: its records of 17 fields, each checked, and
// the text by which a record is compared with the history (the line the
// export would write of it).

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <array>
#include <functional>

namespace reports::csvimport {

constexpr int kFields = 17;

enum FieldIndex {
    fCard, fDate, fTime, fCarCode, fMoney, fUnit, fCarName, fJidIn, fItcIn, fJidOut, fItcOut,
    fJidInName, fItcInRoad, fItcInGate, fJidOutName, fItcOutRoad, fItcOutGate
};

enum class Kind { Quoted, Null, Bare };

struct Field {
    QStringView raw; // a quoted text without its quotes, "" still doubled
    Kind kind = Kind::Null;
    bool doubled = false;
    qint64 number = 0; // a bare field's value
};

struct Record {
    std::array<Field, kFields> f;
    qint64 line = 0;
    // Values put back into the export's form (a field saved again by a
    // spreadsheet): a field's raw text points here then.
    std::array<QString, kFields> restored;

    bool isNull(int i) const { return f[i].kind == Kind::Null; }
    QString text(int i) const
    {
        const Field &x = f[i];
        if (!x.doubled)
            return x.raw.toString();
        return x.raw.toString().replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
};

// The n ASCII digits of s from from as a number; false when one is no digit.
bool digits(QStringView s, qsizetype from, qsizetype n, int &value);

// A card number is four ASCII digits; "0000" stands for all cards and is no card's.
bool isCardNumber(QStringView s);

// A value for a message: a very long one is cut.
QString shownValue(QStringView s);

// The refusal of the import: nothing was imported.
[[noreturn]] void refuseImport(const QString &reason);

// The 17 values of a record as the export writes them, card number first,
// as text: the key of the record.
QString exportedText(const Record &r, const QString &card, bool utf8);

// One file, read a chunk at a time: each complete record goes to the
// caller, checked.
class FileReader {
public:
    FileReader(QString path, bool ownCard) : m_path(std::move(path)), m_ownCard(ownCard) {}

    bool utf8() const { return m_encoding == Encoding::Utf8; }
    qint64 records() const { return m_records; }
    // A header line a spreadsheet added before the records: skipped.
    bool skippedHeader() const { return m_skippedHeader; }
    // The bytes read, as one number: a file that changed between two readings
    // differs here.
    quint64 digest() const { return m_digest; }

    // False when onBytes (bytes read so far) asked to stop.
    bool read(const std::function<void(Record &)> &each, const std::function<bool(qint64)> &onBytes);

private:
    enum class Encoding { Unknown, Cp932, Utf8 };

    // The text of whole lines; a byte that is no character names its line.
    QString decode(const QByteArray &bytes, qint64 firstLine);

    // Hands the complete records at the start of text to each and returns
    // how many characters they took; the rest waits for more text unless
    // this is the end of the file.
    qsizetype parse(QStringView text, qint64 &line, bool final, const std::function<void(Record &)> &each);
    bool readField(QStringView text, qsizetype &p, qint64 &l, qint64 recordLine, int count, bool final, Field &x) const;

    QString m_path;
    bool m_ownCard;
    Encoding m_encoding = Encoding::Unknown;
    bool m_skippedHeader = false;
    qint64 m_records = 0;
    quint64 m_digest = 0x9e3779b97f4a7c15ULL;
};

} // namespace reports::csvimport
