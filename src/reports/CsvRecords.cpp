#include "reports/CsvRecords.h"
#include "reports/CsvLine.h"

#include <QRegularExpression>

#include "app/Cp932.h"
#include "app/Failure.h"
#include "history/Registration.h"
#include "reports/MonthlyReport.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <algorithm>

namespace reports::csvimport {

namespace {

// Bytes read from a file at a time (cut at the last line end in them); the
// progress hears of each: some 10,000 lines.
constexpr qint64 kChunkBytes = 2 << 20;

// The fields by what they hold, for the messages about them.
const char *const kFieldNames[kFields] = {"カードNO",     "ご利用日",   "通過時間",   "車種コード", "料金",
                                          "単位",         "車種",       "入口事業所ID", "入口IC",   "出口事業所ID",
                                          "出口IC",       "入口事業所名", "入口道路名", "入口IC名", "出口事業所名",
                                          "出口道路名",   "出口IC名"};
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

// A field saved again by a spreadsheet from the program's own CSV, put back
// into the export's form: a text without its quotes is a text again (an
// empty one the empty text), a card number or interchange code that lost
// its leading zeros gets them back, a date or time without its zero padding
// (or with AM/PM) is padded. Empty when it is fine, else the real problem.
QString restoreSpreadsheetField(Record &r, int i, bool ownCard)
{
    Field &x = r.f[i];
    const bool number = i == fCarCode || i == fMoney || i == fJidIn || i == fJidOut;
    if (number || x.kind == Kind::Null)
        return {};
    const auto put = [&](const QString &value) {
        r.restored[i] = value;
        x.raw = r.restored[i];
        x.doubled = false;
        x.kind = Kind::Quoted;
    };
    const QString raw = x.raw.toString();
    static const QRegularExpression allDigits(QStringLiteral("^[0-9]+$"));
    if (i == fCard && ownCard) {
        if (x.kind == Kind::Bare && raw.size() < 4 && allDigits.match(raw).hasMatch())
            put(QStringLiteral("%1").arg(raw, 4, QLatin1Char('0')));
        else if (x.kind == Kind::Bare && !raw.isEmpty())
            put(raw);
        return {};
    }
    if (i == fDate) {
        static const QRegularExpression date(QStringLiteral("^([0-9]{4})[/-]([0-9]{1,2})[/-]([0-9]{1,2})$"));
        static const QRegularExpression noYear(QStringLiteral("^[0-9]{1,2}月[0-9]{1,2}日$"));
        if (const auto m = date.match(raw); m.hasMatch() && (x.kind == Kind::Bare || raw.size() != 10))
            put(QStringLiteral("%1/%2/%3").arg(m.captured(1)).arg(m.captured(2).toInt(), 2, 10, QLatin1Char('0'))
                    .arg(m.captured(3).toInt(), 2, 10, QLatin1Char('0')));
        else if (noYear.match(raw).hasMatch())
            return fieldName(i) + QStringLiteral("「") + raw +
                   QStringLiteral("」に年がありません。表計算ソフトで保存したときに年が失われています。表計算ソフトで"
                                  "この列(2列目)のセルの書式を yyyy/mm/dd にしてから、CSVで保存し直してください。");
        else if (x.kind == Kind::Bare && !raw.isEmpty())
            put(raw); // checked as a date below, and named with its value
        return {};
    }
    if (i == fTime) {
        static const QRegularExpression time(
            QStringLiteral("^([0-9]{1,2}):([0-9]{1,2}):([0-9]{1,2})(?: ?([AaPp])[Mm])?$"));
        if (const auto m = time.match(raw); m.hasMatch() && (x.kind == Kind::Bare || raw.size() != 8)) {
            int h = m.captured(1).toInt();
            const QString half = m.captured(4).toUpper();
            if (!half.isEmpty() && (h < 1 || h > 12))
                return fieldName(i) + QStringLiteral("「") + raw + QStringLiteral("」は時刻(HH:MM:SS)ではありません。");
            if (half == QLatin1String("A") && h == 12)
                h = 0;
            else if (half == QLatin1String("P") && h != 12)
                h += 12;
            put(QStringLiteral("%1:%2:%3").arg(h, 2, 10, QLatin1Char('0')).arg(m.captured(2).toInt(), 2, 10, QLatin1Char('0'))
                    .arg(m.captured(3).toInt(), 2, 10, QLatin1Char('0')));
        } else if (x.kind == Kind::Bare && !raw.isEmpty()) {
            put(raw); // checked as a time below, and named with its value
        }
        return {};
    }
    if (x.kind != Kind::Bare)
        return {};
    if (i == fItcIn || i == fItcOut) {
        // An interchange code is five hexadecimal digits; a spreadsheet
        // that read one as a number (1E5 as 100000 or 1.00E+05) lost it for
        // good: only the original file, read with the column as text, has it.
        static const QRegularExpression code(QStringLiteral("^[0-9A-Fa-f]{5}$"));
        if (raw.size() < 5 && allDigits.match(raw).hasMatch())
            put(QStringLiteral("%1").arg(raw, 5, QLatin1Char('0')));
        else if (raw.isEmpty() || code.match(raw).hasMatch())
            put(raw);
        else
            return fieldName(i) + QStringLiteral("「") + raw +
                   QStringLiteral("」は5桁のIC番号ではありません。表計算ソフトが数値に変えた可能性があります。数値に変わった"
                                  "IC番号は、書式を変えても元に戻りません。PASSLOG が出力した元のCSVファイルを、表計算ソフトの"
                                  "読み込みの画面でこの列を「テキスト」にして開き直してから、CSVで保存し直してください。");
        return {};
    }
    put(raw);
    return {};
}

// A first line a spreadsheet added: names where the date and the time are.
// (A first line whose card number is a number is a record, however broken.)
bool isHeaderLine(const Record &r)
{
    const auto startsWithDigit = [](QStringView s) { return !s.isEmpty() && s[0] >= u'0' && s[0] <= u'9'; };
    return !startsWithDigit(r.f[fCard].raw) && !startsWithDigit(r.f[fDate].raw) && !startsWithDigit(r.f[fTime].raw) &&
           !r.f[fDate].raw.isEmpty() && r.f[fDate].kind != Kind::Null;
}

// What is wrong with a record of 17 fields (empty when nothing is); numbers
// are converted on the way.
QString fault(Record &r, bool ownCard)
{
    // A card number without its quotes: a spreadsheet saved the line, and a
    // "#NULL#" it put in quotes (its "quote all text cells") is still Null.
    if (r.f[fCard].kind == Kind::Bare)
        for (Field &x : r.f)
            if (x.kind == Kind::Quoted && x.raw == reports::csv::kNull)
                x.kind = Kind::Null;
    for (int i = 0; i < kFields; ++i)
        if (const QString wrong = restoreSpreadsheetField(r, i, ownCard); !wrong.isEmpty())
            return wrong;
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
            if (const QString c = history::controlCharacterIn(x.raw); !c.isEmpty())
                return fieldName(i) + QStringLiteral("に制御文字 ") + c + QStringLiteral(" があります。");
    }
    return {};
}

} // namespace

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

// A card number is four ASCII digits; "0000" stands for all cards and is no card's.
bool isCardNumber(QStringView s)
{
    int unused;
    return s.size() == 4 && digits(s, 0, 4, unused) && s != u"0000";
}

// A value for a message: a very long one is cut.
QString shownValue(QStringView s) { return s.size() <= 20 ? s.toString() : s.first(20).toString() + QStringLiteral("…"); }

[[noreturn]] void refuseImport(const QString &reason)
{
    throw ExpectedFailure(-1, QStringLiteral("CSV取込できませんでした。何も取り込まれていません。 理由: ") +
                                  reason.trimmed());
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
            reports::csv::appendQuoted(line, card);
        } else if (x.kind == Kind::Null) {
            line += reports::csv::kNull;
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

bool FileReader::read(const std::function<void(Record &)> &each, const std::function<bool(qint64)> &onBytes)
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

QString FileReader::decode(const QByteArray &bytes, qint64 firstLine)
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

// The field at p: its kind and text in x, p after it, l past any line end
// inside quotes. False when the text ends inside a quoted field that the
// next block of the file may close.
bool FileReader::readField(QStringView text, qsizetype &p, qint64 &l, qint64 recordLine, int count, bool final,
                           Field &x) const
{
    const qsizetype n = text.size();
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
                return false;
            badLine(m_path, recordLine, fieldName(qMin(count, kFields - 1)) +
                                        QStringLiteral("の引用符(\")が閉じていません。"));
        }
        x.kind = Kind::Quoted;
        x.raw = text.sliced(p + 1, q - p - 1);
        p = q + 1;
        if (p < n && text[p] != u',' && text[p] != u'\r' && text[p] != u'\n')
            // A text that ran over a line end was most likely never closed.
            badLine(m_path, recordLine, fieldName(qMin(count, kFields - 1)) +
                                        (l > recordLine ? QStringLiteral("の引用符(\")が閉じていません。")
                                                    : QStringLiteral("の閉じる引用符(\")の後に文字があります。")));
    } else {
        qsizetype q = p;
        while (q < n && text[q] != u',' && text[q] != u'\r' && text[q] != u'\n')
            ++q;
        x.raw = text.sliced(p, q - p);
        if (x.raw.contains(u'"'))
            badLine(m_path, recordLine, fieldName(qMin(count, kFields - 1)) +
                                   QStringLiteral("の途中に引用符(\")があります: ") + x.raw.toString());
        x.kind = x.raw == reports::csv::kNull ? Kind::Null : Kind::Bare;
        p = q;
    }
    return true;
}

qsizetype FileReader::parse(QStringView text, qint64 &line, bool final, const std::function<void(Record &)> &each)
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
            if (!readField(text, p, l, r.line, count, final, x))
                return pos;
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
        if (m_records == 0 && !m_skippedHeader && r.line == 1 && isHeaderLine(r)) {
            m_skippedHeader = true; // said in the summary
            line = l;
            pos = p;
            continue;
        }
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
} // namespace reports::csvimport
