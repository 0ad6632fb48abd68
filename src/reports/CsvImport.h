#pragma once
// CSV取込: the files that CSV出力 writes (17 fields a line, code page 932 or
// UTF-8, no header line) read back into the history. Each line becomes a
// history row with the display columns built as the staging builds them, so
// that an imported row shows, sorts, prints, exports and counts as a
// duplicate like one read from a card.
//
// Nothing twice: a line whose 17 values (as the export writes them) equal
// those of a history row is already there. Copies count one by one: a file
// that holds a passage twice adds only the copies the history lacks.
//
// All or nothing: every line of every file is checked before anything is
// written; the first bad one ends the import with an ExpectedFailure that
// names the file, the line and what is wrong.

#include "app/Failure.h"
#include "reports/ReportRows.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>

namespace reports {

struct CsvImportSummary {
    struct File {
        QString path;
        qint64 lines = 0; // records (a record may span lines when a text holds a line break)
        bool utf8 = false;
        bool skippedHeader = false; // a header line a spreadsheet added
    };
    struct Card {
        qint64 lines = 0;
        qint64 added = 0;
    };
    QList<File> files;
    qint64 lines = 0;   // records in all files
    qint64 added = 0;   // records the history lacks: what an import adds
    qint64 present = 0; // records already in the history
    QMap<QString, Card> cards;
    QString first, last; // DATE_TIME range of the records ("" without records)
};

// The summary as the window and the terminal show it, one item a line.
QString csvImportSummaryText(const CsvImportSummary &summary, bool listCards = true);

// write() after check(): a file is no longer what check() read (replaced or
// changed in between). Nothing was imported.
class CsvFilesChanged : public ExpectedFailure {
public:
    CsvFilesChanged();
};

class CsvImport {
public:
    // cardNo: the card number of every record; empty to take field 1 of each line.
    explicit CsvImport(QStringList files, QString cardNo = QString());
    ~CsvImport();

    // Reads and checks every line and counts what the import would add.
    // A bad line throws ExpectedFailure; false when progress asked to stop.
    // progress hears of bytes read of the files' total.
    bool check(const ReportProgress &progress = {});
    const CsvImportSummary &summary() const;

    // Reads and checks the files (again) and adds the records the history
    // lacks, in one transaction (on the server, one server transaction):
    // all of them or none. Returns the number added, or -1 when progress
    // asked to stop (nothing was added). A bad line or a refusal of the store
    // throws ExpectedFailure, with nothing added. Afterwards summary() tells
    // what this reading found. Without check() first this is the whole
    // import in one reading of the files (the command line).
    qint64 write(const ReportProgress &progress = {});

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace reports
