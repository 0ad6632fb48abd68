#include "start/ImportCommand.h"
#include "app/RunSettings.h"

#include "app/DataFolder.h"
#include "app/Failure.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/Database.h"
#include "reports/CsvImport.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

namespace start {

namespace {

const QString kUsage = QStringLiteral(
    "使い方: passlog import csv ファイル… [--card NNNN] [--dry-run]\n\n"
    "CSV出力で書いたファイルの利用履歴を取り込みます。履歴にすでにある利用履歴は\n"
    "取り込みません。1行でも読めない行があれば何も取り込みません。\n\n"
    "  --card NNNN  すべての行をこのカードNOで取り込みます(既定: 各行の1項目目)。\n"
    "  --dry-run    確かめて件数を表示するだけで、何も取り込みません。\n");

int usageError(const QString &what)
{
    QTextStream(stderr) << what << Qt::endl << Qt::endl << kUsage;
    return 2;
}

// Progress on the error stream, at most twice a second.
reports::ReportProgress terminalProgress(const QString &label)
{
    auto shown = std::make_shared<QElapsedTimer>();
    shown->start();
    return [label, shown](qint64 done, qint64 total) {
        if (total > 0 && shown->elapsed() >= 500) {
            QTextStream(stderr) << label << QStringLiteral(" %1%").arg(done * 100 / total) << Qt::endl;
            shown->restart();
        }
        return true;
    };
}

} // namespace

int runImportCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption card(QStringLiteral("card"), QString(), QStringLiteral("NNNN"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({card, dryRun, help});
    if (!parser.parse(QStringList{QStringLiteral("passlog")} + args))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        QTextStream(stdout) << kUsage;
        return 0;
    }
    QStringList files = parser.positionalArguments();
    if (files.isEmpty() || files.takeFirst() != QStringLiteral("csv"))
        return usageError(QStringLiteral("取り込む形式 csv を指定してください。"));
    if (files.isEmpty())
        return usageError(QStringLiteral("取り込むファイルを指定してください。"));
    const QString cardNo = parser.value(card);
    if (parser.isSet(card) &&
        (!QRegularExpression(QStringLiteral("^[0-9]{4}$")).match(cardNo).hasMatch() || cardNo == kNoCardNo))
        return usageError(QStringLiteral("--card には 0000 以外の4桁の数字を指定してください: ") + cardNo);
    for (QString &f : files) {
        if (!QFileInfo::exists(f))
            return usageError(QStringLiteral("ファイルが見つかりません: ") + f);
        if (!QFileInfo(f).isFile())
            return usageError(QStringLiteral("通常のファイルではありません(フォルダーや装置は取り込めません): ") + f);
        f = QFileInfo(f).absoluteFilePath();
    }

    app::runSettings().programFolder = app::withTrailingSeparator(app::dataFolder());
    // A dry run only reads: it neither waits for nor holds up a writer.
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (const QString failed = app::expectedFailureOf([&] {
            history::openDatabase(kDatFile, parser.isSet(dryRun) ? history::HistoryAccess::ReadOnly
                                                                 : history::HistoryAccess::ReadWrite);
        });
        !failed.isEmpty()) {
        err << failed.trimmed() << Qt::endl;
        return 1;
    }
    for (const QString &notice : history::takeSchemaNotices())
        err << notice << Qt::endl;
    reports::CsvImport import(files, cardNo);
    QString failed;
    if (parser.isSet(dryRun)) {
        bool checked = false;
        failed = app::expectedFailureOf([&] { checked = import.check(terminalProgress(QStringLiteral("確認中"))); });
        if (failed.isEmpty() && checked)
            out << reports::csvImportSummaryText(import.summary())
                << QStringLiteral("--dry-run: 何も取り込んでいません。") << Qt::endl;
    } else {
        // One reading: every line is checked inside the transaction, and the
        // first bad one rolls everything back.
        qint64 added = 0;
        failed = app::expectedFailureOf([&] { added = import.write(terminalProgress(QStringLiteral("取込中"))); });
        if (failed.isEmpty())
            out << reports::csvImportSummaryText(import.summary()) << app::recordCountText(added)
                << QStringLiteral("の利用履歴を取り込みました。") << Qt::endl;
    }
    history::closeDatabase(kDatFile);
    if (!failed.isEmpty()) {
        err << failed.trimmed() << Qt::endl;
        return 1;
    }
    return 0;
}

} // namespace start
