#include "reports/CsvExport.h"
#include "reports/CsvLine.h"

#include "app/CheckedSaveFile.h"
#include "app/Cp932.h"
#include "app/Failure.h"
#include "app/Common.h"
#include "history/HistoryFileRows.h"
#include "history/ServerCopy.h"
#include "history/Database.h"
#include "history/ViewCondition.h"

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <utility>
#include <charconv>

namespace {
using C = reports::ReportColumn;

// Fields 2 to 17, after the card number.
constexpr C kFields[] = {C::PassDate, C::PassTime,  C::CarCode,   C::PassMoney, C::PassUnit,   C::CarName,
                         C::JidIn,    C::ItcIn,     C::JidOut,    C::ItcOut,    C::JidInName,  C::ItcInRoad,
                         C::ItcInGate, C::JidOutName, C::ItcOutRoad, C::ItcOutGate};

// A field as its value's own type: text quoted, a number bare, Null as #NULL#.
void appendField(QString &line, const QVariant &value)
{
    if (value.isNull()) {
        line += reports::csv::kNull;
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        line += value.toString();
        return;
    default:
        reports::csv::appendQuoted(line, value.toString());
    }
}

[[noreturn]] void fileFailure(const QString &path, const QString &reason)
{
    throw Failure(75, QStringLiteral("パス/ファイル アクセス エラーです。") + path + QStringLiteral(": ") + reason);
}

// A file the lines cannot be added to: refused with the file as it was.
[[noreturn]] void notAppendable(const QString &path)
{
    throw ExpectedFailure(75, QStringLiteral("CSVファイルに追加書込みできません。このファイルは UTF-8 で書かれています"
                                             "(CSV出力はシフトJISで書きます)。二つの文字コードが混ざると、"
                                             "CSV取込で読めなくなります。置き換えるか、別のファイルに出力してください。"
                                             "\r\n\r\n") +
                              QDir::toNativeSeparators(path) +
                              QStringLiteral("\r\n\r\n※既存のファイルは変更されていません。"));
}

[[noreturn]] void nullCardNumber() { throw Failure(94, QStringLiteral("Null の使い方が不正です。")); }

// Lines are collected into blocks of about this size and written a block at a time.
constexpr qsizetype kBlockBytes = 1 << 20;
// Rows between two progress reports.
constexpr qint64 kRowsPerReport = 4096;

enum class Outcome { Written, NotWritten, Stopped };
// Hands a full block to the file and empties it; false when the file refused it.
using PutBlock = std::function<bool(QByteArray &block)>;

// Writes the file through fill, which makes the lines and puts them. The
// file is written beside the target and moved into place only when fill has
// written every line: a failure or a stop leaves the old file as it was.
bool writeFileBlocks(const QString &path, qint16 mode, const std::function<Outcome(const PutBlock &)> &fill)
{
    // Both modes write a whole new file and put it in place only when it is
    // complete: an append copies the old bytes first, so that a write that
    // fails half-way (a full disk) never leaves a cut line in the old file.
    const bool existed = QFile::exists(path);
    app::CheckedSaveFile out(path);
    app::openForWriting(out);
    // The caller's command tells the user (the old file stays as it was).
    const auto notWritten = [&]() -> bool {
        out.close();
        throw ExpectedFailure(-1, app::fileNotWrittenText(QStringLiteral("CSVファイル"), path, existed));
    };
    // The line end an old file lacks, written before the first new line.
    QByteArray lineEnd;
    // A FIFO or a device takes the lines as they come: an append there is
    // the same as a new file, and nothing is read from it.
    if (mode == reports::CsvAppend && existed && !out.writesDirectly()) {
        QFile old(path);
        if (!old.open(QIODevice::ReadOnly))
            fileFailure(path, old.errorString());
        // The lines are code page 932: after a file in UTF-8 (with a
        // byte-order mark, or with other characters that only UTF-8 reads)
        // the file would hold two encodings and could not be read back.
        QStringDecoder utf8(QStringDecoder::Utf8);
        bool first = true, beyondAscii = false;
        char last = '\n';
        while (!old.atEnd()) {
            const QByteArray chunk = old.read(1 << 20);
            if (chunk.isEmpty() && old.error() != QFileDevice::NoError)
                fileFailure(path, old.errorString());
            if (chunk.isEmpty())
                break;
            if (first && chunk.startsWith("\xEF\xBB\xBF"))
                notAppendable(path);
            first = false;
            if (!beyondAscii)
                beyondAscii = std::any_of(chunk.cbegin(), chunk.cend(), [](char c) { return quint8(c) >= 0x80; });
            if (beyondAscii && !utf8.hasError())
                (void)QString(utf8(chunk));
            last = chunk.back();
            if (out.write(chunk) != chunk.size())
                return notWritten();
        }
        if (beyondAscii && !utf8.hasError())
            notAppendable(path);
        // The first new line starts on a line of its own.
        lineEnd = last == '\n' ? QByteArray() : last == '\r' ? QByteArray("\n") : QByteArray("\r\n");
    }
    const PutBlock put = [&](QByteArray &block) {
        if (!lineEnd.isEmpty()) {
            const QByteArray end = std::exchange(lineEnd, QByteArray());
            if (out.write(end) != end.size())
                return false;
        }
        const bool ok = out.write(block) == block.size();
        block.resize(0); // keeps its capacity for the next block
        return ok;
    };
    switch (fill(put)) {
    case Outcome::NotWritten: return notWritten();
    case Outcome::Stopped: return false; // the unfinished file goes with `out`, silently
    case Outcome::Written: break;
    }
    if (!out.commit())
        return notWritten();
    return true;
}

// The lines of rows (HistoryFileRows or a server copy) into blocks put as they fill.
template <typename Rows>
Outcome fillFromRows(Rows &rows, qint16 viewMode, const QString &card, const std::function<bool()> &keepGoing,
                     const std::function<void()> &countRow, const PutBlock &put, qsizetype blockBytes)
{
    using Kind = typename Rows::Kind;
    const int cardColumn = rows.column(reports::reportColumnName(C::CardNo));
    int columns[std::size(kFields)];
    for (size_t i = 0; i < std::size(kFields); ++i)
        columns[i] = rows.column(reports::reportColumnName(kFields[i]));

    qint64 sinceReport = 0;
    cp932::Utf8Encoder encoder;
    QByteArray block;
    block.reserve(blockBytes + 64 * 1024);
    const auto appendQuoted = [&](std::string_view utf8) {
        block.append('"');
        encoder.append(utf8, block, true);
        block.append('"');
    };
    // A value as its own type, as appendField() gives it.
    const auto appendValue = [&](int column, bool asText) {
        switch (column < 0 ? Kind::Null : rows.kind(column)) {
        case Kind::Null:
            block.append("#NULL#", 6);
            return;
        case Kind::Integer: {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, rows.integer(column)).ptr;
            if (asText)
                block.append('"');
            block.append(digits, end - digits);
            if (asText)
                block.append('"');
            return;
        }
        case Kind::Real: {
            const QByteArray number = QVariant(rows.real(column)).toString().toLatin1();
            if (asText)
                appendQuoted(std::string_view(number.constData(), size_t(number.size())));
            else
                block.append(number);
            return;
        }
        default:
            appendQuoted(rows.bytes(column));
        }
    };

    QByteArray cardField;
    if (viewMode != 2) {
        const QByteArray utf8 = card.toUtf8();
        std::swap(block, cardField);
        appendQuoted(std::string_view(utf8.constData(), size_t(utf8.size())));
        std::swap(block, cardField);
    }
    while (rows.next()) {
        if (viewMode == 2) {
            if (cardColumn < 0 || rows.kind(cardColumn) == Kind::Null)
                nullCardNumber();
            appendValue(cardColumn, true);
        } else {
            block.append(cardField);
        }
        for (const int column : columns) {
            block.append(',');
            appendValue(column, false);
        }
        block.append("\r\n", 2);
        countRow();
        if (block.size() >= blockBytes && !put(block))
            return Outcome::NotWritten;
        if (keepGoing && ++sinceReport == kRowsPerReport && (sinceReport = 0, !keepGoing()))
            return Outcome::Stopped;
    }
    if (rows.stopped())
        return Outcome::Stopped;
    if (!block.isEmpty() && !put(block))
        return Outcome::NotWritten;
    return Outcome::Written;
}

// A server statement of every column ("SELECT * …", "SELECT ETC_DATA.* …")
// reading only those the file holds: the server then sends a third of the
// bytes, and its sort moves less.
QString withFileColumns(const QString &select)
{
    static const QRegularExpression star(QStringLiteral("^\\s*SELECT\\s+((ETC_DATA|ETC_TEMP)\\.)?\\*\\s"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = star.match(select);
    if (!m.hasMatch())
        return select;
    QStringList columns{reports::reportColumnName(C::CardNo)};
    for (const C c : kFields)
        columns << reports::reportColumnName(c);
    for (QString &c : columns) {
        if (std::any_of(c.cbegin(), c.cend(), [](QChar x) { return x.unicode() >= 0x80; }))
            c = QLatin1Char('"') + c + QLatin1Char('"');
        c.prepend(m.captured(1));
    }
    return QStringLiteral("SELECT ") + columns.join(QLatin1Char(',')) + QLatin1Char(' ') +
           select.mid(m.capturedEnd());
}

// The rows of a history statement as its store gives them (the history file
// straight from SQLite, the server through COPY): the UTF-8 bytes of each
// value go into the block in code page 932 as they are, with no value object
// and no UTF-16 text per field. The same bytes as reports::csvLine() of the same row.
Outcome fillFromStore(const QString &statement, qint16 viewMode, const QString &card, const reports::ReportProgress &progress,
                      const PutBlock &put, qsizetype blockBytes = kBlockBytes, const history::PassageSpots &spots = {})
{
    // (A statement that joins the spots is not counted: they are not loaded yet.)
    const qint64 total = progress && !spots ? reports::reportRowCount(statement) : 0;
    qint64 done = 0;
    bool stop = false;
    const auto keepGoing = [&] {
        stop = stop || !progress(done, total);
        return !stop;
    };
    const std::function<bool()> asked = progress ? std::function<bool()>(keepGoing) : std::function<bool()>();
    if (history::HistoryFileRows::readsFile(statement)) {
        history::HistoryFileRows rows(statement, asked, spots);
        return fillFromRows(rows, viewMode, card, asked, [&] { ++done; }, put, blockBytes);
    }
    QSqlDatabase server = history::database(DbConnection::Server);
    if (spots)
        history::loadSpotsOnServer(server, spots);
    // (中止 is asked also while the server is waited for.)
    history::ServerCopyOut rows(server, withFileColumns(history::serverText(statement)), asked);
    return fillFromRows(rows, viewMode, card, asked, [&] { ++done; }, put, blockBytes);
}
} // namespace

QByteArray reports::csvLine(const ReportRow &row, qint16 viewMode, const QString &card)
{
    QString line;
    line.reserve(256);
    if (viewMode == 2) {
        if (row[C::CardNo].isNull())
            nullCardNumber();
        reports::csv::appendQuoted(line, row[C::CardNo].toString());
    } else {
        reports::csv::appendQuoted(line, card);
    }
    for (C c : kFields) {
        line += QLatin1Char(',');
        appendField(line, row[c]);
    }
    line += QStringLiteral("\r\n");
    return cp932::encode(line);
}

bool reports::writeCsvFile(const QString &path, qint16 mode, const reports::ReportRowSource &rows, qint16 viewMode,
                           const QString &card, const reports::ReportProgress &progress, qint64 total)
{
    return app::tagged(app::Procedure::WriteCsvFile, [&] {
        return writeFileBlocks(path, mode, [&](const PutBlock &put) {
            QByteArray block;
            ReportRow row;
            qint64 done = 0;
            while (rows(row)) {
                block += reports::csvLine(row, viewMode, card);
                ++done;
                if (block.size() >= kBlockBytes && !put(block))
                    return Outcome::NotWritten;
                if (progress && done % kRowsPerReport == 0 && !progress(done, total))
                    return Outcome::Stopped;
            }
            if (!block.isEmpty() && !put(block))
                return Outcome::NotWritten;
            return Outcome::Written;
        });
    });
}

bool reports::writeCsvFile(const QString &path, qint16 mode, const history::ViewQuery &view, const QString &card,
                           const reports::ReportProgress &progress)
{
    return app::tagged(app::Procedure::WriteCsvFile, [&] {
        const QString statement = reports::shownRowsStatement(view);
        const qint16 viewMode = view.viewType;
        if (statement.isEmpty()) // the grid shows nothing: an empty file
            return reports::writeCsvFile(path, mode, listRows({}), viewMode, card, progress);
        return writeFileBlocks(path, mode, [&](const PutBlock &put) {
            return fillFromStore(statement, viewMode, card, progress, put);
        });
    });
}

bool reports::csvLinesOf(const QString &statement, const std::function<void(const QByteArray &line)> &each,
                const reports::ReportProgress &progress, const history::PassageSpots &spots)
{
    return app::tagged(app::Procedure::CsvLines, [&] {
        // A block of one byte is put after every line: each block is one line.
        const PutBlock put = [&](QByteArray &block) {
            each(block);
            block.resize(0);
            return true;
        };
        return fillFromStore(statement, 2, QString(), progress, put, 1, spots) == Outcome::Written;
    });
}
