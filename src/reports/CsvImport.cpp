#include "reports/CsvImport.h"

#include "app/CheckedSaveFile.h"
#include "app/Failure.h"
#include "app/Seams.h"
#include "history/HistoryCheck.h"
#include "history/Database.h"
#include "reports/CsvRecords.h"
#include "reports/ImportTally.h"
#include "reports/ImportWriters.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>

#include <algorithm>
#include <filesystem>

using namespace reports::csvimport;

struct reports::CsvImport::Private {
    QStringList files;
    QString card;
    reports::CsvImportSummary summary;
    bool checked = false;
    qint64 totalBytes = 0;
    QList<quint64> digests;    // of each file, as the last reading found it
    std::vector<Mark> marks;   // of every record, as check() read them

    // Reads every file; each(record, its card number, its mark). False when stopped.
    bool readAll(const reports::ReportProgress &progress,
                 const std::function<void(const Record &, const QString &, const Mark &)> &each,
                 reports::CsvImportSummary *counts)
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
                counts->files << reports::CsvImportSummary::File{path, reader.records(), reader.utf8(), reader.skippedHeader()};
        }
        return true;
    }

    // The marks of every record; false when stopped.
    bool readMarks(const reports::ReportProgress &progress, std::vector<Mark> &out, reports::CsvImportSummary &counts)
    {
        out.clear();
        return readAll(progress, [&](const Record &, const QString &, const Mark &m) { out.push_back(m); }, &counts);
    }
};

reports::CsvImport::CsvImport(QStringList files, QString cardNo) : d(new Private)
{
    // A file named twice is read once (its own copies of a record still count),
    // also under another name: a link, "./x" for "x". One file is one device and inode.
    const auto fsPath = app::fileSystemPath;
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

reports::CsvImport::~CsvImport() = default;

const reports::CsvImportSummary &reports::CsvImport::summary() const { return d->summary; }

bool reports::CsvImport::check(const reports::ReportProgress &progress)
{
    return app::tagged(app::Procedure::CheckCsvImport, [&] {
        reports::CsvImportSummary s;
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

qint64 reports::CsvImport::write(const reports::ReportProgress &progress)
{
    return app::tagged(app::Procedure::WriteCsvImport, [&]() -> qint64 {
        const QString stamp = seams::now().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        const QString regDate = stamp.mid(0, 10);
        const QString regTime = stamp.mid(11, 8);
        const history::KeepGoing keepGoing = progress ? history::KeepGoing([&] { return progress(0, 0); }) : history::KeepGoing();
        const auto run = [&](auto &writer) -> qint64 {
            // The history as it is now, under the writer's lock (the server: its transaction).
            const qint64 rows = historyRows();
            // The records: as checked, or read now (the command line; into an
            // empty history every record is new, and one reading is enough).
            std::vector<Mark> read;
            const bool marked = d->checked || rows > 0;
            if (!d->checked && rows > 0) {
                reports::CsvImportSummary unused;
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
            reports::CsvImportSummary s;
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
                throw reports::CsvFilesChanged();
            if (!writer.commit(keepGoing))
                return -1;
            d->summary = tally.summary(std::move(s.files));
            return d->summary.added;
        };
        if (history::usesServer()) {
            ServerWriter writer(keepGoing);
            return run(writer);
        }
        history::requireSoundHistory(keepGoing);
        FileWriter writer;
        return run(writer);
    });
}

reports::CsvFilesChanged::CsvFilesChanged()
    : ExpectedFailure(-1, QStringLiteral("CSV取込できませんでした。何も取り込まれていません。"
                                         "確認した後で、CSVファイルが変更されています。"))
{
}

QString reports::csvImportSummaryText(const reports::CsvImportSummary &s, bool listCards)
{
    const QLocale c(QLocale::Japanese, QLocale::Japan);
    const auto n = [&](qint64 v) { return c.toString(v); };
    QString text = QStringLiteral("ファイル: %1個\n").arg(s.files.size());
    bool anyUtf8 = false;
    for (const reports::CsvImportSummary::File &f : s.files) {
        text += QStringLiteral("  ") + QDir::toNativeSeparators(f.path) + QStringLiteral(" (") + n(f.lines) +
                QStringLiteral("件") + (f.utf8 ? QStringLiteral(", UTF-8") : QString()) +
                (f.skippedHeader ? QStringLiteral(", 1行目の見出しは読み飛ばしました") : QString()) + QStringLiteral(")\n");
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
