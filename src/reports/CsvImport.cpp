#include "reports/CsvImport.h"

#include "app/CheckedSaveFile.h"
#include "app/Cp932.h"
#include "app/Failure.h"
#include "app/Seams.h"
#include "history/DatabaseErrors.h"
#include "history/HistoryCheck.h"
#include "history/HistoryColumns.h"
#include "history/ServerCopy.h"
#include "history/basAccess.h"
#include "history/basAccessEntry.h"
#include "history/basAccessStaging.h"
#include "reports/CsvExport.h"
#include "reports/MonthlyReport.h"

#include <QDate>
#include <QScopeGuard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSqlError>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <filesystem>
#include <sqlite3.h>

namespace {

constexpr int kFields = 17;
// Bytes read from a file at a time (cut at the last line end in them); the
// progress hears of each: some 10,000 lines.
constexpr qint64 kChunkBytes = 2 << 20;
// Virtual machine steps of SQLite between two questions to the progress.
constexpr int kStepsPerQuestion = 20000;

// The fields by what they hold, for the messages about them.
const char *const kFieldNames[kFields] = {"カードNO",     "ご利用日",   "通過時間",   "車種コード", "料金",
                                          "単位",         "車種",       "入口事業所ID", "入口IC",   "出口事業所ID",
                                          "出口IC",       "入口事業所名", "入口道路名", "入口IC名", "出口事業所名",
                                          "出口道路名",   "出口IC名"};
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

    bool isNull(int i) const { return f[i].kind == Kind::Null; }
    QString text(int i) const
    {
        const Field &x = f[i];
        if (!x.doubled)
            return x.raw.toString();
        return x.raw.toString().replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
};

[[noreturn]] void badLine(const QString &path, qint64 line, const QString &what)
{
    QString text = QStringLiteral("CSV取込できませんでした。何も取り込まれていません。\n") +
                   QDir::toNativeSeparators(path);
    if (line > 0)
        text += QStringLiteral(" の ") + QString::number(line) + QStringLiteral("行目");
    throw ExpectedFailure(-1, text + QStringLiteral(": ") + what);
}

QString fieldName(int i)
{
    return QString::number(i + 1) + QStringLiteral("項目目(") + QString::fromUtf8(kFieldNames[i]) +
           QLatin1Char(')');
}

bool digits(QStringView s, qsizetype from, qsizetype n, int &value)
{
    value = 0;
    for (qsizetype i = from; i < from + n; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c - u'0');
    }
    return true;
}

bool isDate(QStringView s)
{
    int y, m, d;
    return s.size() == 10 && s[4] == u'/' && s[7] == u'/' && digits(s, 0, 4, y) && digits(s, 5, 2, m) &&
           digits(s, 8, 2, d) && QDate(y, m, d).isValid();
}

bool isTime(QStringView s)
{
    int h, m, sec;
    return s.size() == 8 && s[2] == u':' && s[5] == u':' && digits(s, 0, 2, h) && digits(s, 3, 2, m) &&
           digits(s, 6, 2, sec) && h < 24 && m < 60 && sec < 60;
}

bool toInteger(QStringView s, qint64 &value)
{
    const bool negative = s.startsWith(u'-');
    const QStringView d = negative ? s.sliced(1) : s;
    if (d.isEmpty() || d.size() > 12)
        return false;
    value = 0;
    for (const QChar c : d) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (negative)
        value = -value;
    return true;
}

// A card number is four ASCII digits; "0000" stands for all cards and is no card's.
bool isCardNumber(QStringView s)
{
    int unused;
    return s.size() == 4 && digits(s, 0, 4, unused) && s != u"0000";
}

// A value for a message: a very long one is cut.
QString shownValue(QStringView s) { return s.size() <= 20 ? s.toString() : s.first(20).toString() + QStringLiteral("…"); }

// What is wrong with a record of 17 fields (empty when nothing is); numbers
// are converted on the way.
QString fault(Record &r, bool ownCard)
{
    for (int i = 0; i < kFields; ++i) {
        Field &x = r.f[i];
        const bool number = i == fCarCode || i == fMoney || i == fJidIn || i == fJidOut;
        if (i == fCard && ownCard) {
            if (x.kind != Kind::Quoted || x.raw.isEmpty())
                return QStringLiteral("カードNOがありません(1項目目)。");
            if (x.raw == u"0000")
                return fieldName(i) + QStringLiteral("が 0000 です。0000 は全カードを表す番号のため、取り込めません。");
            if (!isCardNumber(x.raw))
                return fieldName(i) + QStringLiteral("「") + shownValue(x.raw) +
                       QStringLiteral("」は4桁の数字ではありません。");
            continue;
        }
        if ((i == fDate || i == fTime) && x.kind != Kind::Quoted)
            return fieldName(i) + QStringLiteral("がありません。");
        if (i == fDate && !isDate(x.raw))
            return fieldName(i) + QStringLiteral("「") + x.raw.toString() +
                   QStringLiteral("」は日付(YYYY/MM/DD)ではありません。");
        if (i == fTime && !isTime(x.raw))
            return fieldName(i) + QStringLiteral("「") + x.raw.toString() +
                   QStringLiteral("」は時刻(HH:MM:SS)ではありません。");
        if (x.kind == Kind::Null)
            continue;
        if (number) {
            const qint64 limit = i == fMoney ? 0x7fffffffLL : 0x7fffLL;
            if (x.kind != Kind::Bare || !toInteger(x.raw, x.number))
                return fieldName(i) + QStringLiteral("が整数ではありません: ") +
                       (x.kind == Kind::Quoted ? QLatin1Char('"') + x.raw.toString() + QLatin1Char('"')
                                               : x.raw.toString());
            if (x.number > limit || x.number < -limit - 1)
                return fieldName(i) + QStringLiteral("の値 ") + x.raw.toString() +
                       QStringLiteral(" は大きすぎます。");
        } else if (x.kind != Kind::Quoted && i != fCard) {
            return fieldName(i) + QStringLiteral("が引用符(\")で囲まれていません: ") + x.raw.toString();
        }
        // A stored text holds no control character (the server takes no NUL).
        if (x.kind == Kind::Quoted)
            if (const QString c = basAccess_ControlCharacterIn(x.raw); !c.isEmpty())
                return fieldName(i) + QStringLiteral("に制御文字 ") + c + QStringLiteral(" があります。");
    }
    return {};
}

struct Key {
    quint64 a = 0, b = 0;
    bool operator==(const Key &o) const { return a == o.a && b == o.b; }
};
size_t qHash(const Key &k, size_t seed = 0) { return size_t(k.a) ^ seed; }

Key keyOf(QStringView line)
{
    const void *data = line.utf16();
    const size_t bytes = size_t(line.size()) * 2;
    return {quint64(qHashBits(data, bytes, 0x9e3779b97f4a7c15ULL)), quint64(qHashBits(data, bytes, 0x5bd1e995ULL))};
}

// The 17 values of a record as the export writes them, card number first,
// as text: the key of the record.
QString exportedText(const Record &r, const QString &card, bool utf8)
{
    QString line;
    line.reserve(200);
    for (int i = 0; i < kFields; ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        const Field &x = r.f[i];
        if (i == fCard && !card.isEmpty()) {
            line += QLatin1Char('"') + QString(card).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
                    QLatin1Char('"');
        } else if (x.kind == Kind::Null) {
            line += QStringLiteral("#NULL#");
        } else if (x.kind == Kind::Bare) {
            line += QString::number(x.number);
        } else {
            line += QLatin1Char('"');
            line += x.raw;
            line += QLatin1Char('"');
        }
    }
    // A text from a UTF-8 file as code page 932 has it: what it cannot hold
    // is "?" in the history's export too.
    if (utf8) {
        for (const QChar c : std::as_const(line))
            if (c.unicode() >= 0x80)
                return cp932::decode(cp932::encode(line));
    }
    return line;
}

// One file, read a chunk at a time: each complete record goes to the
// caller, checked.
class FileReader {
public:
    FileReader(QString path, bool ownCard) : m_path(std::move(path)), m_ownCard(ownCard) {}

    bool utf8() const { return m_encoding == Encoding::Utf8; }
    qint64 records() const { return m_records; }
    // The bytes read, as one number: a file that changed between two readings
    // differs here.
    quint64 digest() const { return m_digest; }

    // False when onBytes (bytes read so far) asked to stop.
    bool read(const std::function<void(Record &)> &each, const std::function<bool(qint64)> &onBytes)
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            badLine(m_path, 0, QStringLiteral("ファイルを開けません(") + file.errorString() + QStringLiteral(")。"));
        QByteArray carry;
        QString pending;
        qint64 pendingLine = 1;
        qint64 bytesLine = 1; // line number of the first byte not yet decoded
        bool first = true;
        for (;;) {
            QByteArray block = file.read(kChunkBytes);
            if (block.isEmpty() && file.error() != QFileDevice::NoError)
                badLine(m_path, 0, QStringLiteral("ファイルを読めません(") + file.errorString() + QStringLiteral(")。"));
            m_digest = qHashBits(block.constData(), size_t(block.size()), size_t(m_digest)) ^ quint64(block.size());
            const bool atEnd = file.atEnd() || block.isEmpty();
            if (first) {
                first = false;
                if (block.startsWith("\xEF\xBB\xBF")) {
                    m_encoding = Encoding::Utf8;
                    block.remove(0, 3);
                }
            }
            QByteArray bytes = carry.isEmpty() ? std::move(block) : carry + block;
            carry.clear();
            if (!atEnd) {
                const qsizetype cut = bytes.lastIndexOf('\n') + 1;
                carry = bytes.mid(cut);
                bytes.truncate(cut);
            }
            QString text = decode(bytes, bytesLine);
            bytesLine += bytes.count('\n');
            if (pending.isEmpty())
                pending = std::move(text);
            else
                pending += text;
            const qsizetype used = parse(pending, pendingLine, atEnd, each);
            pending.remove(0, used);
            if (onBytes && !onBytes(file.pos() - carry.size()))
                return false;
            if (atEnd)
                return true;
        }
    }

private:
    enum class Encoding { Unknown, Cp932, Utf8 };

    // The text of whole lines; a byte that is no character names its line.
    QString decode(const QByteArray &bytes, qint64 firstLine)
    {
        if (m_encoding == Encoding::Unknown) {
            const bool ascii = std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return quint8(c) < 0x80; });
            if (ascii)
                return QString::fromLatin1(bytes);
            QStringDecoder probe(QStringDecoder::Utf8);
            (void)QString(probe(bytes));
            m_encoding = probe.hasError() ? Encoding::Cp932 : Encoding::Utf8;
        }
        QString text;
        bool ok;
        if (m_encoding == Encoding::Utf8) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            text = utf8(bytes);
            ok = !utf8.hasError();
        } else {
            ok = cp932::decodeExact(bytes, text);
        }
        if (ok)
            return text;
        // Which line: each one alone.
        qint64 line = firstLine;
        for (const QByteArray &one : bytes.split('\n')) {
            QString unused;
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const bool lineOk = m_encoding == Encoding::Utf8 ? ((void)QString(utf8(one)), !utf8.hasError())
                                                               : cp932::decodeExact(one, unused);
            if (!lineOk)
                break;
            ++line;
        }
        badLine(m_path, line,
                m_encoding == Encoding::Utf8
                    ? QStringLiteral("UTF-8 の文字として読めないバイトがあります。")
                    : QStringLiteral("コードページ932(シフトJIS)の文字として読めないバイトがあります。"));
    }

    // Hands the complete records at the start of text to each and returns
    // how many characters they took; the rest waits for more text unless
    // this is the end of the file.
    qsizetype parse(QStringView text, qint64 &line, bool final, const std::function<void(Record &)> &each)
    {
        const qsizetype n = text.size();
        qsizetype pos = 0;
        Record r;
        while (pos < n) {
            if (text[pos] == u'\n') {
                ++line;
                ++pos;
                continue;
            }
            if (text[pos] == u'\r' && pos + 1 < n && text[pos + 1] == u'\n') {
                ++line;
                pos += 2;
                continue;
            }
            r.line = line;
            // The monthly totals' CSV file (its own header first) is no history.
            if (m_records == 0 && text.sliced(pos).startsWith(kMonthlyHeader.join(QLatin1Char(','))))
                badLine(m_path, r.line,
                        QStringLiteral("月別集計のCSVファイルです。CSV取込できるのは、CSV出力で書いた利用履歴のファイルです。"));
            qint64 l = line;
            qsizetype p = pos;
            int count = 0;
            for (;;) {
                Field x;
                if (p < n && text[p] == u'"') {
                    qsizetype q = p + 1;
                    bool closed = false;
                    while (q < n) {
                        if (text[q] == u'"') {
                            if (q + 1 < n && text[q + 1] == u'"') {
                                x.doubled = true;
                                q += 2;
                                continue;
                            }
                            closed = true;
                            break;
                        }
                        if (text[q] == u'\n')
                            ++l;
                        ++q;
                    }
                    if (!closed) {
                        if (!final)
                            return pos;
                        badLine(m_path, r.line, fieldName(qMin(count, kFields - 1)) +
                                                    QStringLiteral("の引用符(\")が閉じていません。"));
                    }
                    x.kind = Kind::Quoted;
                    x.raw = text.sliced(p + 1, q - p - 1);
                    p = q + 1;
                    if (p < n && text[p] != u',' && text[p] != u'\r' && text[p] != u'\n')
                        // A text that ran over a line end was most likely never closed.
                        badLine(m_path, r.line, fieldName(qMin(count, kFields - 1)) +
                                                    (l > r.line ? QStringLiteral("の引用符(\")が閉じていません。")
                                                                : QStringLiteral("の閉じる引用符(\")の後に文字があります。")));
                } else {
                    qsizetype q = p;
                    while (q < n && text[q] != u',' && text[q] != u'\r' && text[q] != u'\n')
                        ++q;
                    x.raw = text.sliced(p, q - p);
                    if (x.raw.contains(u'"'))
                        badLine(m_path, r.line, fieldName(qMin(count, kFields - 1)) +
                                               QStringLiteral("の途中に引用符(\")があります: ") + x.raw.toString());
                    x.kind = x.raw == u"#NULL#" ? Kind::Null : Kind::Bare;
                    p = q;
                }
                if (count < kFields)
                    r.f[count] = x;
                ++count;
                if (p == n) {
                    if (!final)
                        return pos;
                    break;
                }
                if (text[p] == u',') {
                    ++p;
                    continue;
                }
                if (text[p] == u'\r') {
                    if (p + 1 == n && !final)
                        return pos;
                    if (p + 1 >= n || text[p + 1] != u'\n')
                        badLine(m_path, r.line, QStringLiteral("行の終わりに CR だけがあります(CR LF ではありません)。"));
                    ++p;
                }
                ++p; // the LF
                ++l;
                break;
            }
            if (count != kFields)
                badLine(m_path, r.line, QStringLiteral("項目の数が %1 です(%2 項目のはずです)。").arg(count).arg(kFields));
            const QString wrong = fault(r, m_ownCard);
            if (!wrong.isEmpty())
                badLine(m_path, r.line, wrong);
            ++m_records;
            each(r);
            line = l;
            pos = p;
        }
        return pos;
    }

    QString m_path;
    bool m_ownCard;
    Encoding m_encoding = Encoding::Unknown;
    qint64 m_records = 0;
    quint64 m_digest = 0x9e3779b97f4a7c15ULL;
};

// Where a record's passage lies, as one number: its card number, date and
// time (checked digits all), so that within a card the numbers order as the
// passages do.
constexpr quint64 kCardScale = 100'000'000'000'000ULL; // 10^14

quint64 spotOf(QStringView card, const Record &r)
{
    int c = 0, y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    const QStringView date = r.f[fDate].raw, time = r.f[fTime].raw;
    digits(card, 0, 4, c);
    digits(date, 0, 4, y);
    digits(date, 5, 2, mo);
    digits(date, 8, 2, d);
    digits(time, 0, 2, h);
    digits(time, 3, 2, mi);
    digits(time, 6, 2, sec);
    return quint64(c) * kCardScale + (quint64(y) * 10000 + mo * 100 + d) * 1000000 + h * 10000 + mi * 100 + sec;
}

QString cardOfSpot(quint64 spot) { return QStringLiteral("%1").arg(spot / kCardScale, 4, 10, QLatin1Char('0')); }

// "YYYY/MM/DD-HH:MM:SS", as DATE_TIME holds it.
QString dateTimeOfSpot(quint64 spot)
{
    const quint64 ymd = spot % kCardScale / 1000000, hms = spot % 1000000;
    return QString::asprintf("%04d/%02d/%02d-%02d:%02d:%02d", int(ymd / 10000), int(ymd / 100 % 100), int(ymd % 100),
                             int(hms / 10000), int(hms / 100 % 100), int(hms % 100));
}

// A record as the count needs it.
struct Mark {
    Key key;
    quint64 spot = 0;
};

// The history rows that may equal records of the files, as the export writes
// them: how many rows have each key. Those at the records' card numbers and
// times are found through their index, so that an import costs what its
// files hold, not what the history holds; a history with fewer rows than
// that is read whole.
qint64 historyRows()
{
    QSqlQuery count = basAccess_Execute(DbConnection::History, QStringLiteral("SELECT COUNT(*) FROM ETC_DATA"));
    return count.next() ? count.value(0).toLongLong() : 0;
}

// rows: historyRows() as the caller's lock found it.
QHash<Key, qint32> heldKeys(const std::vector<Mark> &marks, qint64 rows, const ReportProgress &progress, bool &stopped)
{
    QHash<Key, qint32> keys;
    stopped = false;
    if (rows == 0)
        return keys;
    std::vector<quint64> spots;
    spots.reserve(marks.size());
    for (const Mark &m : marks)
        spots.push_back(m.spot);
    std::sort(spots.begin(), spots.end());
    spots.erase(std::unique(spots.begin(), spots.end()), spots.end());
    if (spots.empty())
        return keys;
    const auto add = [&](const QByteArray &line) {
        ++keys[keyOf(cp932::decode(line.chopped(2)))]; // without CR LF
    };
    const ReportProgress asked =
        progress ? ReportProgress([&](qint64, qint64) { return progress(0, 0); }) : ReportProgress();
    if (rows <= qint64(spots.size())) {
        stopped = !csvLinesOf(QStringLiteral("SELECT * FROM ETC_DATA WHERE カードNO IS NOT NULL"), add, asked);
        return keys;
    }
    size_t next = 0;
    const PassageSpots at = [&](QByteArray &card, QByteArray &dateTime) {
        if (next == spots.size())
            return false;
        card = cardOfSpot(spots[next]).toLatin1();
        dateTime = dateTimeOfSpot(spots[next]).toLatin1();
        ++next;
        return true;
    };
    stopped = !csvLinesOf(QStringLiteral("SELECT ETC_DATA.* FROM passlog_spots CROSS JOIN ETC_DATA "
                                         "WHERE ETC_DATA.カードNO = passlog_spots.card "
                                         "AND ETC_DATA.DATE_TIME = passlog_spots.dt"),
                          add, asked, at);
    return keys;
}

// A value of a new history row. A text is a view of the record's text or of
// the value's own buffer, which the next row reuses.
struct Value {
    enum Type { Null, Integer, Text } type = Null;
    qint64 number = 0;
    QStringView text;
    QString own;

    void setNumber(qint64 n)
    {
        type = Integer;
        number = n;
    }
    void setText(QStringView v)
    {
        type = Text;
        text = v;
    }
    template <typename... Parts>
    void compose(const Parts &...parts)
    {
        own.resize(0);
        (own.append(parts), ...);
        setText(own);
    }
    void setField(const Record &r, int i)
    {
        const Field &x = r.f[i];
        if (x.kind == Kind::Null) {
            type = Null;
        } else if (x.kind == Kind::Bare) {
            setNumber(x.number);
        } else if (!x.doubled) {
            setText(x.raw);
        } else {
            own = r.text(i);
            setText(own);
        }
    }
};
using Row = std::array<Value, 28>;

// Fills the 28 columns of the history row of a record, in the order of
// kHistoryColumnNames: the coded columns from the fields, the display
// columns built from them as the staging builds them.
void rowOf(const Record &r, const QString &card, const QString &regDate, const QString &regTime, Row &row)
{
    static constexpr int kCoded[][2] = {{0, fItcIn},      {1, fItcInRoad},   {2, fItcInGate}, {3, fJidIn},
                                        {4, fJidInName},  {5, fItcOut},      {6, fItcOutRoad}, {7, fItcOutGate},
                                        {8, fJidOut},     {9, fJidOutName},  {13, fDate},      {14, fTime},
                                        {16, fCarCode},   {17, fCarName},    {18, fMoney},     {19, fUnit},
                                        {22, fDate},      {23, fTime},       {25, fCarName}};
    for (const auto &c : kCoded)
        row[c[0]].setField(r, c[1]);
    row[10].setText(regDate);
    row[11].setText(regTime);
    row[12].setText(card);
    row[15].compose(r.f[fDate].raw, QChar(u'-'), r.f[fTime].raw);
    row[20].setNumber(0);
    row[21].setText(card);
    const Value &money = row[18], &unit = row[19];
    if (unit.type == Value::Text && unit.text == u"未確定")
        row[24].setText(unit.text);
    else if (money.type == Value::Integer)
        row[24].compose(unit.type == Value::Text
                            ? basAccess_DisplayToll(qint32(money.number), unit.text.toString())
                            : QString::number(money.number));
    else
        row[24].compose(unit.type == Value::Text ? unit.text : QStringView());
    const auto textOf = [&](int i) { return row[i].type == Value::Text ? row[i].text : QStringView(); };
    row[26].compose(textOf(1), QChar(u' '), textOf(2));
    row[27].compose(textOf(6), QChar(u' '), textOf(7));
}

[[noreturn]] void refuseImport(const QString &reason)
{
    throw ExpectedFailure(-1, QStringLiteral("CSV取込できませんでした。何も取り込まれていません。 理由: ") +
                                  reason.trimmed());
}

// The history file, written through SQLite itself on a connection of its
// own: one transaction, a prepared statement bound value by value.
class FileWriter {
public:
    // Takes the file's write lock: what the history holds is read after this.
    FileWriter()
    {
        const QString path = basAccess_Database(DbConnection::History).databaseName();
        m_path = QDir::toNativeSeparators(path);
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK)
            fail();
        sqlite3_busy_timeout(m_db, 5000);
        run("BEGIN IMMEDIATE");
        m_open = true;
    }
    // Before the first row; expected: the number of rows to come.
    void begin(qint64 expected, const std::function<bool()> &)
    {
        // Room for the index pages the new rows land on, about one each: the
        // memory follows the import's size, not the history's.
        run(QByteArray("PRAGMA cache_size=-" + QByteArray::number(std::clamp<qint64>(expected, 2000, 262144))).constData());
        // More new rows than old ones: the indexes are built again at the end
        // (a sort) rather than kept row by row, in the same transaction.
        if (expected > 1000 && expected > count("SELECT COUNT(*) FROM ETC_DATA")) {
            sqlite3_stmt *q = nullptr;
            if (sqlite3_prepare_v2(m_db, "SELECT name, sql FROM sqlite_master WHERE type='index' AND "
                                         "tbl_name='ETC_DATA' AND sql IS NOT NULL", -1, &q, nullptr) != SQLITE_OK)
                fail();
            QList<QByteArray> names;
            while (sqlite3_step(q) == SQLITE_ROW) {
                names << reinterpret_cast<const char *>(sqlite3_column_text(q, 0));
                m_indexes << reinterpret_cast<const char *>(sqlite3_column_text(q, 1));
            }
            sqlite3_finalize(q);
            for (const QByteArray &name : std::as_const(names))
                run(("DROP INDEX \"" + name + "\"").constData());

        }
        QStringList columns = kHistoryColumnNames;
        columns << QStringLiteral("ROW_UID");
        QStringList marks(kHistoryColumnNames.size(), QStringLiteral("?"));
        marks << QStringLiteral("?");
        // The rows' identities: 128 random bits for the first, the next ones
        // counting on from it. Unique as random ones are (the import's 64
        // random high bits), they lie side by side in their index, so that an
        // import changes a few of its pages, not one page per row all over.
        m_uidHigh = QRandomGenerator::system()->generate64();
        m_uidLow = QRandomGenerator::system()->generate64() >> 1; // (room to count)
        const QByteArray sql = (QStringLiteral("INSERT INTO ETC_DATA (") + columns.join(QLatin1Char(',')) +
                                QStringLiteral(") VALUES (") + marks.join(QLatin1Char(',')) + QLatin1Char(')'))
                                   .toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &m_insert, nullptr) != SQLITE_OK)
            fail();
    }
    ~FileWriter()
    {
        sqlite3_finalize(m_insert);
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(m_db);
    }

    void add(const Row &row)
    {
        for (int i = 0; i < int(row.size()); ++i) {
            const Value &v = row[i];
            if (v.type == Value::Null)
                sqlite3_bind_null(m_insert, i + 1);
            else if (v.type == Value::Integer)
                sqlite3_bind_int64(m_insert, i + 1, v.number);
            else
                // (an empty text, never Null)
                sqlite3_bind_text16(m_insert, i + 1, v.text.isNull() ? u"" : v.text.utf16(),
                                    int(v.text.size() * 2), SQLITE_STATIC);
        }
        char uid[33];
        std::snprintf(uid, sizeof uid, "%016llx%016llx", static_cast<unsigned long long>(m_uidHigh),
                      static_cast<unsigned long long>(m_uidLow++));
        sqlite3_bind_text(m_insert, int(row.size()) + 1, uid, 32, SQLITE_TRANSIENT);
        if (sqlite3_step(m_insert) != SQLITE_DONE)
            fail();
        sqlite3_reset(m_insert);
    }
    // False when keepGoing said no while the indexes were built: nothing is kept.
    bool commit(const std::function<bool()> &keepGoing)
    {
        // Building the indexes takes a while: the progress hears of it now and then.
        if (keepGoing)
            sqlite3_progress_handler(m_db, kStepsPerQuestion, &FileWriter::askToGoOn, this);
        m_keepGoing = keepGoing;
        for (const QByteArray &sql : std::as_const(m_indexes)) {
            if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
                if (m_stopped)
                    return false; // rolled back by the destructor
                fail();
            }
        }
        sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
        run("COMMIT");
        m_open = false;
        return true;
    }

private:
    static int askToGoOn(void *self)
    {
        auto *w = static_cast<FileWriter *>(self);
        w->m_stopped = w->m_stopped || !w->m_keepGoing();
        return w->m_stopped ? 1 : 0;
    }
    qint64 count(const char *sql)
    {
        sqlite3_stmt *q = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &q, nullptr) != SQLITE_OK)
            fail();
        const qint64 n = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int64(q, 0) : 0;
        sqlite3_finalize(q);
        return n;
    }
    void run(const char *sql)
    {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail();
    }
    [[noreturn]] void fail()
    {
        // The common causes (a full disk, a read-only file, ...) in Japanese first.
        const QString sentence = m_db ? databaseErrorSentence(long(sqlite3_extended_errcode(m_db)), m_path) : QString();
        refuseImport((sentence.isEmpty() ? QString() : sentence + QLatin1Char(' ')) +
                     (m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("SQLite")) +
                     QStringLiteral(" [") + m_path + QLatin1Char(']'));
    }

    QString m_path;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    quint64 m_uidHigh = 0, m_uidLow = 0; // the next row's identity
    QList<QByteArray> m_indexes; // dropped for the import, made again before the commit
    std::function<bool()> m_keepGoing;
    bool m_stopped = false;
    bool m_open = false;
};

// The shared history on the server: one server transaction, the rows
// through COPY.
class ServerWriter {
public:
    explicit ServerWriter(const KeepGoing &keepGoing)
        : m_db(basAccess_Database(DbConnection::Server)), m_control(m_db)
    {
        basAccess_Run(m_control, QStringLiteral("BEGIN"), true);
        m_open = true;
        // What the server holds is read after this lock is taken: a second PC
        // importing the same file waits, then finds this one's rows there.
        try {
            basAccess_LockServerHistory(m_db, keepGoing);
        } catch (...) { // (no destructor runs for a constructor that throws)
            m_control.exec(QStringLiteral("ROLLBACK"));
            throw;
        }
    }
    ~ServerWriter()
    {
        m_copy.reset(); // an unfinished copy ends before the rollback
        if (m_open)
            m_control.exec(QStringLiteral("ROLLBACK"));
    }
    void begin(qint64 expected, const std::function<bool()> &keepGoing)
    {
        refusedAsImport([&] {
            m_bulk.emplace(m_db, expected, keepGoing);
            m_copy = std::make_unique<history::ServerCopyIn>(m_db, kTableData, kHistoryColumnNames);
        });
    }
    void add(const Row &row)
    {
        refusedAsImport([&] {
            for (int i = 0; i < int(row.size()); ++i) {
                const Value &v = row[i];
                if (i == kPrintFlagColumn)
                    m_copy->boolean(false);
                else if (v.type == Value::Null)
                    m_copy->null();
                else if (v.type == Value::Integer)
                    m_copy->integer(v.number);
                else
                    m_copy->text(v.text);
            }
            m_copy->endRow();
        });
    }
    bool commit(const std::function<bool()> &keepGoing)
    {
        return refusedAsImport([&] {
            m_copy->finish();
            m_copy.reset();
            if (!m_bulk->rebuild(keepGoing))
                return false; // rolled back by the destructor
            basAccess_Run(m_control, QStringLiteral("COMMIT"), true);
            m_open = false;
            return true;
        });
    }

private:
    // A refusal of the server while rows go in is the import's refusal.
    template <typename Work>
    static std::invoke_result_t<Work> refusedAsImport(Work work)
    {
        try {
            return work();
        } catch (const ExpectedFailure &e) {
            refuseImport(e.description());
        }
    }
    static inline const int kPrintFlagColumn = int(kHistoryColumnNames.indexOf(kColumnPrintFlag));

    QSqlDatabase m_db;
    QSqlQuery m_control;
    std::optional<history::ServerBulkLoad> m_bulk;
    std::unique_ptr<history::ServerCopyIn> m_copy;
    bool m_open = false;
};

// Counts the records of the files against the copies the history holds:
// a record is new once the history's copies of it are used up.
class Tally {
public:
    explicit Tally(QHash<Key, qint32> history) : m_remaining(std::move(history)) {}

    bool isNew(const Mark &m)
    {
        CsvImportSummary::Card &c = m_cards[int(m.spot / kCardScale)];
        const quint64 when = m.spot % kCardScale;
        if (m_summary.lines == 0 || when < m_first)
            m_first = when;
        if (m_summary.lines == 0 || when > m_last)
            m_last = when;
        ++m_summary.lines;
        ++c.lines;
        const auto it = m_remaining.find(m.key);
        if (it != m_remaining.end() && *it > 0) {
            --*it;
            ++m_summary.present;
            return false;
        }
        ++m_summary.added;
        ++c.added;
        return true;
    }

    qint64 added() const { return m_summary.added; }

    CsvImportSummary summary(QList<CsvImportSummary::File> files) const
    {
        CsvImportSummary s = m_summary;
        s.files = std::move(files);
        for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it)
            s.cards.insert(cardOfSpot(quint64(it.key()) * kCardScale), *it);
        if (s.lines > 0) {
            s.first = dateTimeOfSpot(m_first);
            s.last = dateTimeOfSpot(m_last);
        }
        return s;
    }

private:
    QHash<Key, qint32> m_remaining;
    CsvImportSummary m_summary;
    QHash<int, CsvImportSummary::Card> m_cards;
    quint64 m_first = 0, m_last = 0;
};

} // namespace

struct CsvImport::Private {
    QStringList files;
    QString card;
    CsvImportSummary summary;
    bool checked = false;
    qint64 totalBytes = 0;
    QList<quint64> digests;    // of each file, as the last reading found it
    std::vector<Mark> marks;   // of every record, as check() read them

    // Reads every file; each(record, its card number, its mark). False when stopped.
    bool readAll(const ReportProgress &progress,
                 const std::function<void(const Record &, const QString &, const Mark &)> &each,
                 CsvImportSummary *counts)
    {
        if (!card.isEmpty() && !isCardNumber(card))
            refuseImport(QStringLiteral("カードNO「") + shownValue(card) +
                         QStringLiteral("」は取り込みに使えません。0000 以外の4桁の数字を指定してください。"));
        qint64 before = 0;
        QList<quint64> readDigests;
        const auto done = qScopeGuard([&] { digests = readDigests; });
        for (const QString &path : std::as_const(files)) {
            FileReader reader(path, card.isEmpty());
            const auto onBytes = [&](qint64 bytes) { return !progress || progress(before + bytes, totalBytes); };
            const bool read = reader.read(
                [&](Record &r) {
                    const QString cardNo = card.isEmpty() ? r.text(fCard) : card;
                    each(r, cardNo, Mark{keyOf(exportedText(r, card, reader.utf8())), spotOf(cardNo, r)});
                },
                onBytes);
            if (!read)
                return false;
            readDigests << reader.digest();
            before += QFileInfo(path).size();
            if (counts)
                counts->files << CsvImportSummary::File{path, reader.records(), reader.utf8()};
        }
        return true;
    }

    // The marks of every record; false when stopped.
    bool readMarks(const ReportProgress &progress, std::vector<Mark> &out, CsvImportSummary &counts)
    {
        out.clear();
        return readAll(progress, [&](const Record &, const QString &, const Mark &m) { out.push_back(m); }, &counts);
    }
};

CsvImport::CsvImport(QStringList files, QString cardNo) : d(new Private)
{
    // A file named twice is read once (its own copies of a record still count),
    // also under another name: a link, "./x" for "x". One file is one device and inode.
    const auto fsPath = fileSystemPath;
    for (const QString &f : std::as_const(files)) {
        const QFileInfo info(f);
        const QString path = info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
        const bool named = std::any_of(d->files.cbegin(), d->files.cend(), [&](const QString &taken) {
            std::error_code error;
            return taken == path || (std::filesystem::equivalent(fsPath(taken), fsPath(path), error) && !error);
        });
        if (!named)
            d->files << path;
    }
    d->card = std::move(cardNo);
    for (const QString &f : std::as_const(d->files))
        d->totalBytes += QFileInfo(f).size();
}

CsvImport::~CsvImport() = default;

const CsvImportSummary &CsvImport::summary() const { return d->summary; }

bool CsvImport::check(const ReportProgress &progress)
{
    return guarded("CsvImport::check", [&] {
        CsvImportSummary s;
        if (!d->readMarks(progress, d->marks, s))
            return false;
        bool stopped = false;
        Tally tally(heldKeys(d->marks, historyRows(), progress, stopped));
        if (stopped)
            return false;
        for (const Mark &m : d->marks)
            tally.isNew(m);
        d->summary = tally.summary(std::move(s.files));
        d->checked = true;
        return true;
    });
}

qint64 CsvImport::write(const ReportProgress &progress)
{
    return guarded("CsvImport::write", [&]() -> qint64 {
        const QString stamp = seams::now().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        const QString regDate = stamp.mid(0, 10);
        const QString regTime = stamp.mid(11, 8);
        const KeepGoing keepGoing = progress ? KeepGoing([&] { return progress(0, 0); }) : KeepGoing();
        const auto run = [&](auto &writer) -> qint64 {
            // The history as it is now, under the writer's lock (the server: its transaction).
            const qint64 rows = historyRows();
            // The records: as checked, or read now (the command line; into an
            // empty history every record is new, and one reading is enough).
            std::vector<Mark> read;
            const bool marked = d->checked || rows > 0;
            if (!d->checked && rows > 0) {
                CsvImportSummary unused;
                if (!d->readMarks(progress, read, unused))
                    return -1;
            }
            const std::vector<Mark> &marks = d->checked ? d->marks : read;
            // The summary the user agreed to, or this first reading, is of the
            // files as they are imported: a file changed since is not imported.
            const QList<quint64> expectedDigests = d->digests;
            bool stopped = false;
            const Tally held(heldKeys(marks, rows, progress, stopped));
            if (stopped)
                return -1;
            Tally counted = held;
            for (const Mark &m : marks)
                counted.isNew(m);
            // (Unread, the files' size tells about how many: a line has some 140 bytes.)
            writer.begin(marked ? counted.added() : d->totalBytes / 100, keepGoing);
            Tally tally = held;
            Row row;
            CsvImportSummary s;
            const bool complete = d->readAll(
                progress,
                [&](const Record &r, const QString &card, const Mark &m) {
                    if (tally.isNew(m)) {
                        rowOf(r, card, regDate, regTime, row);
                        writer.add(row);
                    }
                },
                &s);
            if (!complete)
                return -1; // the writer rolls back
            if (marked && d->digests != expectedDigests)
                throw CsvFilesChanged();
            if (!writer.commit(keepGoing))
                return -1;
            d->summary = tally.summary(std::move(s.files));
            return d->summary.added;
        };
        if (basAccess_UsesServer()) {
            ServerWriter writer(keepGoing);
            return run(writer);
        }
        history::requireSoundHistory(keepGoing);
        FileWriter writer;
        return run(writer);
    });
}

CsvFilesChanged::CsvFilesChanged()
    : ExpectedFailure(-1, QStringLiteral("CSV取込できませんでした。何も取り込まれていません。"
                                         "確認した後で、CSVファイルが変更されています。"))
{
}

QString csvImportSummaryText(const CsvImportSummary &s, bool listCards)
{
    const QLocale c(QLocale::Japanese, QLocale::Japan);
    const auto n = [&](qint64 v) { return c.toString(v); };
    QString text = QStringLiteral("ファイル: %1個\n").arg(s.files.size());
    bool anyUtf8 = false;
    for (const CsvImportSummary::File &f : s.files) {
        text += QStringLiteral("  ") + QDir::toNativeSeparators(f.path) + QStringLiteral(" (") + n(f.lines) +
                QStringLiteral("件") + (f.utf8 ? QStringLiteral(", UTF-8") : QString()) + QStringLiteral(")\n");
        anyUtf8 = anyUtf8 || f.utf8;
    }
    if (anyUtf8)
        text += QStringLiteral("UTF-8 で書かれたファイルは UTF-8 として読みました。\n");
    text += QStringLiteral("利用履歴: %1件 (新規 %2件 / 登録済み %3件)\n").arg(n(s.lines), n(s.added), n(s.present));
    if (listCards && !s.cards.isEmpty()) {
        text += QStringLiteral("カードNO別:\n");
        for (auto it = s.cards.cbegin(); it != s.cards.cend(); ++it)
            text += QStringLiteral("  %1: %2件 (新規 %3件)\n").arg(it.key(), n(it->lines), n(it->added));
    }
    if (!s.first.isEmpty())
        text += QStringLiteral("期間: %1 ～ %2\n").arg(s.first, s.last);
    return text;
}
