#include "start/ExportCommand.h"
#include "app/RunSettings.h"

#include "app/CheckedSaveFile.h"
#include "app/DataFolder.h"
#include "app/Failure.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "reports/CsvExport.h"
#include "reports/MonthlyReport.h"
#include "reports/StatementPdf.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <QRegularExpression>
#include <cstdio>

namespace start {

namespace {

const QString kCsv = QStringLiteral("csv");
const QString kStatement = QStringLiteral("statement");
const QString kTotals = QStringLiteral("totals");
const QString kDateTimeForm = QStringLiteral("yyyy/MM/dd HH:mm:ss");

void say(const QString &text) { std::fputs(qPrintable(text + QLatin1Char('\n')), stderr); }

int usageError(const QString &message)
{
    say(QStringLiteral("passlog export: ") + message);
    say(QStringLiteral("使い方は passlog export --help で表示されます。"));
    return 2;
}

QString helpText()
{
    return QStringLiteral(
        "使い方: passlog export <csv|statement|totals> --out ファイル [オプション]\n"
        "\n"
        "登録済みの利用履歴を、ウィンドウを開かずにファイルへ出力します。\n"
        "条件と出力内容はウィンドウの「DB読込」で表示した場合と同じです。\n"
        "  csv        CSV出力と同じCSVファイル\n"
        "  statement  標準印刷の「PDFファイル」と同じ明細表 (PDF)\n"
        "  totals     月別集計のCSV出力と同じCSVファイル\n"
        "\n"
        "オプション:\n"
        "  --out ファイル   出力先のファイル (必須)。既にあれば、--force か --append を\n"
        "                   指定しない限りそのまま残し、終了状態 1 で終わります。\n"
        "                   例: --out /home/keiri/etc/2024-05.csv\n"
        "  --force          既存の出力先ファイルを置き換えます。\n"
        "                   例: passlog export totals --out 月別集計.csv --force\n"
        "  --append         (csv のみ) 既存のCSVファイルの後ろに追加書込みします。\n"
        "                   例: passlog export csv --out 利用履歴.csv --append\n"
        "  --card NNNN      カードNO。省略するか 0000 で全カードです。\n"
        "                   例: --card 0012\n"
        "  --from 日時      期間の開始 \"YYYY/MM/DD HH:MM:SS\" (--to と一緒に指定)。\n"
        "                   例: --from \"2024/05/01 00:00:00\"\n"
        "  --to 日時        期間の終了 \"YYYY/MM/DD HH:MM:SS\" (--from と一緒に指定)。\n"
        "                   例: --to \"2024/05/31 23:59:59\"\n"
        "  --sort NEW|OLD   ご利用日の並び (新しい順/古い順)。省略時は表示設定の並びです。\n"
        "                   例: --sort OLD\n"
        "  -h, --help       この説明を表示して終了します。\n"
        "\n"
        "終了状態: 0 出力しました、1 出力できませんでした (既存のファイルはそのまま)、\n"
        "          2 コマンドラインの誤り。メッセージは標準エラー出力に出ます。\n"
        "\n"
        "毎月の出力の例 (cron: 毎月1日 6:00 に前月分の明細表と月別集計):\n"
        "  0 6 1 * * passlog export statement --force --out \"$HOME/ETC/前月明細.pdf\" "
        "--from \"$(date -d \"$(date +\\%Y-\\%m-01) -1 month\" +\\%Y/\\%m/\\%d) 00:00:00\" "
        "--to \"$(date -d \"$(date +\\%Y-\\%m-01) -1 day\" +\\%Y/\\%m/\\%d) 23:59:59\"\n"
        "  5 6 1 * * passlog export totals --force --out \"$HOME/ETC/月別集計.csv\"\n"
        "Windows のタスク スケジューラ:\n"
        "  schtasks /create /sc monthly /d 1 /st 06:00 /tn PASSLOG月別集計 /tr "
        "\"\\\"C:\\Program Files\\PASSLOG\\passlog.exe\\\" export totals --force --out C:\\ETC\\月別集計.csv\"\n");
}

bool parseDateTime(const QString &text, QDate &date, QTime &time)
{
    const QDateTime value = QDateTime::fromString(text.trimmed(), kDateTimeForm);
    if (!value.isValid())
        return false;
    date = value.date();
    time = value.time();
    return true;
}

int writeView(const QString &kind, const QString &out, bool append, const history::ViewQuery &view);

// The job once the options are sound: the window's view of the history for
// the conditions, then the file. Returns the exit status.
int runJob(const QString &kind, const QString &out, bool append, const ViewSelection &selection,
           const QString &sort)
{
    app::runSettings().programFolder = app::withTrailingSeparator(app::dataFolder());
    const QString saved = app::readProfileString(kSectionMain, QStringLiteral("ViewSort"), app::settingsFileName());
    app::runSettings().viewSort = !sort.isEmpty() ? sort : saved == kIniMissing || saved.isEmpty() ? QStringLiteral("NEW") : saved;
    if (const QString failed =
            app::expectedFailureOf([] { history::openDatabase(kDatFile, history::HistoryAccess::ReadOnly); });
        !failed.isEmpty()) {
        QTextStream(stderr) << failed.trimmed() << Qt::endl;
        return 1;
    }
    const history::ViewQuery view = history::viewQuery(2, selection); // the view of a database read
    int status = 1;
    try {
        status = writeView(kind, out, append, view);
    } catch (...) { // the command line's handler says it, after the history is closed
        history::closeDatabase(kDatFile);
        throw;
    }
    history::closeDatabase(kDatFile);
    return status;
}

// The file of one kind for the view; returns the exit status.
int writeView(const QString &kind, const QString &out, bool append, const history::ViewQuery &view)
{
    int status = 1;
    if (kind == kCsv) {
        const qint16 mode = append && QFileInfo::exists(out) ? reports::CsvAppend : reports::CsvCreate;
        status = reports::writeCsvFile(out, mode, view, QString()) ? 0 : 1;
    } else if (kind == kTotals) {
        // (The totals' read reports a server that is away as a failure
        // of its own: said, not an end of the program.)
        const QString failed = app::expectedFailureOf(
            [&] { status = reports::writeMonthlyCsv(out, reports::shownMonthlyTotals(view)) ? 0 : 1; });
        if (!failed.trimmed().isEmpty()) {
            say(failed.trimmed());
            status = 1;
        }
    } else {
        const bool existed = QFileInfo::exists(out);
        app::CheckedSaveFile file(out);
        if (!file.open(QIODevice::WriteOnly)) {
            say(file.refused() ? file.errorString()
                               : QStringLiteral("パス/ファイル アクセス エラーです。") + out + QStringLiteral(": ") +
                                     file.errorString());
        } else {
            const qint32 pages = reports::writeStatementPdf(file, view, QString(), {kStatementTitle, kAppTitle});
            if (pages <= 0)
                say(QStringLiteral("条件に合う利用履歴がありません。明細表は出力されていません。"));
            else if (!file.commit())
                say(app::fileNotWrittenText(QStringLiteral("PDFファイル"), out, existed));
            else
                status = 0;
        }
    }
    return status;
}

} // namespace

bool exportNeedsFonts(const QStringList &args) { return args.contains(kStatement); }

int runExportCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("file"));
    const QCommandLineOption append(QStringLiteral("append"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption card(QStringLiteral("card"), QString(), QStringLiteral("card"));
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("datetime"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("datetime"));
    const QCommandLineOption sort(QStringLiteral("sort"), QString(), QStringLiteral("order"));
    parser.addOptions({help, out, append, force, card, from, to, sort});
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    if (!parser.parse(args)) {
        const QStringList unknown = parser.unknownOptionNames();
        return usageError(unknown.isEmpty() ? QStringLiteral("オプションに値がありません。")
                                            : QStringLiteral("不明なオプションです: ") + unknown.join(QLatin1Char(' ')));
    }
    if (parser.isSet(help)) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    const QStringList words = parser.positionalArguments();
    if (words.size() != 1 || !QStringList{kCsv, kStatement, kTotals}.contains(words.at(0)))
        return usageError(QStringLiteral("出力するものを csv、statement、totals のどれか一つで指定してください。"));
    const QString kind = words.at(0);
    for (const QCommandLineOption &o : {out, card, from, to, sort})
        if (parser.values(o).size() > 1)
            return usageError(QStringLiteral("--%1 が二度以上指定されています。").arg(o.names().at(0)));
    if (!parser.isSet(out) || parser.value(out).trimmed().isEmpty())
        return usageError(QStringLiteral("出力先のファイルを --out で指定してください。"));
    if (parser.isSet(append) && kind != kCsv)
        return usageError(QStringLiteral("--append は csv でだけ使えます。"));

    ViewSelection selection;
    selection.CardNoMode = 0;
    if (parser.isSet(card)) {
        // Four digits; fewer are filled with zeros in front, as in the window's box ("12": 0012).
        const QString number = parser.value(card);
        if (!QRegularExpression(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,4}"))).match(number).hasMatch())
            return usageError(QStringLiteral("--card にはカードNOを4桁の数字で指定してください: ") + number);
        selection.TypedCardNo = number.rightJustified(4, QLatin1Char('0'));
    }
    if (parser.isSet(from) != parser.isSet(to))
        return usageError(QStringLiteral("期間は --from と --to の両方で指定してください。"));
    if (parser.isSet(from)) {
        DateTimeRange &range = selection.Range;
        if (!parseDateTime(parser.value(from), range.startDate, range.startTime))
            return usageError(QStringLiteral("--from の日時は \"YYYY/MM/DD HH:MM:SS\" で指定してください: ") +
                              parser.value(from));
        if (!parseDateTime(parser.value(to), range.endDate, range.endTime))
            return usageError(QStringLiteral("--to の日時は \"YYYY/MM/DD HH:MM:SS\" で指定してください: ") +
                              parser.value(to));
        if (range.isReversed())
            return usageError(QStringLiteral("期間の終了が開始より前になっています。"));
        selection.SelectMode = 1;
    }
    QString order;
    if (parser.isSet(sort)) {
        order = parser.value(sort).trimmed().toUpper();
        if (order != QLatin1String("NEW") && order != QLatin1String("OLD"))
            return usageError(QStringLiteral("--sort には NEW か OLD を指定してください。"));
    }

    const QString path = QFileInfo(parser.value(out)).absoluteFilePath(); // (blanks are part of a name)
    if (QFileInfo::exists(path) && !parser.isSet(force) && !parser.isSet(append)) {
        say(QStringLiteral("出力先のファイルが既に存在します: ") + QDir::toNativeSeparators(path));
        say(kind == kCsv ? QStringLiteral("置き換えるには --force を、追加書込みするには --append を指定してください。")
                         : QStringLiteral("置き換えるには --force を指定してください。"));
        return 1;
    }
    return runJob(kind, path, parser.isSet(append), selection, order);
}

} // namespace start
