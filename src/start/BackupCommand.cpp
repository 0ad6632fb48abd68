#include "start/BackupCommand.h"
#include "app/RunSettings.h"

#include "start/Startup.h"

#include "app/DataFolder.h"
#include "app/Settings.h"
#include "app/Seams.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/HistoryBackup.h"
#include "history/HistoryRestore.h"
#include "history/Database.h"
#include "history/HistoryUse.h"
#include "app/CheckedSaveFile.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <optional>

namespace start {

namespace {

const QString kBackupUsage = QStringLiteral(
    "使い方: passlog backup --out ファイル [--force]\n\n"
    "利用履歴ファイルの一貫したコピーを作ります(取込や登録の途中でも、その前の状態のコピーです)。\n"
    "  --out ファイル  コピーの書き先。既にあれば --force がない限りそのまま残し、終了状態 1 で終わります。\n"
    "  --force         既存のファイルを置き換えます。\n"
    "毎日最初の起動のときにも、データフォルダーの backup に自動でコピーを作ります(7日分)。\n"
    "共有の利用履歴サーバーは pg_dump でバックアップしてください(README)。\n");

const QString kRestoreUsage = QStringLiteral(
    "使い方: passlog restore ファイル\n\n"
    "バックアップした利用履歴ファイルを、今の利用履歴ファイルの代わりに戻します。\n"
    "今のファイルは、先にデータフォルダーの backup にコピーしておきます。\n"
    "壊れたファイルや PASSLOG の利用履歴ファイルでないものは戻しません。\n"
    "PASSLOG のウィンドウや取込・出力が利用履歴を使っている間は、それが終わるまで最長10秒待ち、終わらなければ戻しません。\n");

int usageError(const QString &what, const QString &usage)
{
    QTextStream(stderr) << what << Qt::endl << Qt::endl << usage;
    return 2;
}

// The parser's words, or the exit status of a help or usage answer.
std::optional<int> parse(QCommandLineParser &parser, const QStringList &args, const QString &usage)
{
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(help);
    if (!parser.parse(args))
        return usageError(parser.errorText(), usage);
    if (parser.isSet(help)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    return std::nullopt;
}

QString historyPath()
{
    app::runSettings().programFolder = app::withTrailingSeparator(app::dataFolder());
    app::setProgramFilesSource(history::programFiles);
    return history::databasePath(kDatFile);
}

} // namespace

int runBackupCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("file"));
    const QCommandLineOption force(QStringLiteral("force"));
    parser.addOptions({out, force});
    if (const auto answered = parse(parser, args, kBackupUsage))
        return *answered;
    if (!parser.positionalArguments().isEmpty() || parser.value(out).trimmed().isEmpty())
        return usageError(QStringLiteral("passlog backup: 書き先を --out で一つ指定してください。"), kBackupUsage);
    const QString target = QFileInfo(parser.value(out)).absoluteFilePath(); // (blanks are part of a name)
    QTextStream err(stderr);
    if (QFileInfo::exists(target) && !parser.isSet(force)) {
        err << QStringLiteral("書き先のファイルが既に存在します: ") << QDir::toNativeSeparators(target) << Qt::endl
            << QStringLiteral("置き換えるには --force を指定してください。") << Qt::endl;
        return 1;
    }
    // --force replaces an earlier copy, never a file of another kind (the
    // program, a document): only what is a history file itself.
    const QString kind = QFileInfo(target).isFile() ? history::whyNotRestorable(target) : QString();
    if (kind.contains(QStringLiteral("利用履歴ファイルではありません")) || kind.contains(QStringLiteral("読めません"))) {
        err << QStringLiteral("'%1' は利用履歴のバックアップではないため、置き換えません。別のファイル名を指定してください。")
                   .arg(QDir::toNativeSeparators(target))
            << Qt::endl;
        return 1;
    }
    // Never over one of the program's own files (the copy refuses them all,
    // by the same list as every other writer), and not while a restore runs.
    const QString path = historyPath();
    QString why;
    const auto use = history::HistoryUse::take(path, history::HistoryUse::Mode::Shared, history::kWaitForRestoreMs, &why,
                                               [&err](const QString &text) { err << text << Qt::endl; });
    if (!use) {
        err << why << Qt::endl;
        return 1;
    }
    if (const QString why = history::copyHistoryFile(path, target); !why.isEmpty()) {
        err << why << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << QStringLiteral("利用履歴を %1 に保存しました。").arg(QDir::toNativeSeparators(target))
                        << Qt::endl;
    // A PC of the shared history keeps its card reads here, the history
    // itself on the server: that is backed up there.
    if (history::serverSetting().shared)
        err << QStringLiteral("この PC は共有の利用履歴サーバーを使う設定です。保存したのはこの PC の利用履歴ファイルで、"
                              "サーバーの利用履歴は含まれません。サーバーの利用履歴は pg_dump でバックアップしてください(README)。")
            << Qt::endl;
    return 0;
}

int runRestoreCommand(const QStringList &args)
{
    QCommandLineParser parser;
    if (const auto answered = parse(parser, args, kRestoreUsage))
        return *answered;
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("passlog restore: 戻すファイルを一つ指定してください。"), kRestoreUsage);
    const QString file = QFileInfo(parser.positionalArguments().at(0)).absoluteFilePath();
    QTextStream err(stderr);
    // Every other user of the history (the window included) holds it for as
    // long as it uses it: the restore waits for them a while, or refuses.
    QString kept;
    QStringList dropped;
    const QString why = history::restoreHistoryFile(
        file, historyPath(), seams::now(), &kept, [&err](const QString &text) { err << text << Qt::endl; }, &dropped);
    if (!why.isEmpty()) {
        err << why << Qt::endl;
        return 1;
    }
    QTextStream out(stdout);
    out << QStringLiteral("%1 を利用履歴に戻しました。").arg(QDir::toNativeSeparators(file)) << Qt::endl;
    for (const QString &d : std::as_const(dropped))
        out << QStringLiteral("PASSLOG が作らないもの(%1)は取り除きました。").arg(d) << Qt::endl;
    if (!kept.isEmpty())
        out << QStringLiteral("それまでの利用履歴は %1 に保存しました。").arg(QDir::toNativeSeparators(kept)) << Qt::endl;
    return 0;
}

} // namespace start
