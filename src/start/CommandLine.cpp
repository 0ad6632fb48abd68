#include "start/CommandLine.h"
#include "app/RunSettings.h"

#include "app/DataFolder.h"
#include "app/Failure.h"
#include "app/Version.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/Database.h"
#include "history/Registration.h"
#include "start/BackupCommand.h"
#include "start/Demo.h"
#include "start/ExportCommand.h"
#include "start/ImportCommand.h"
#include "start/ServerCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTextStream>
#include <cstdio>
#include <memory>

namespace start {

namespace {

// "passlog --copy-history-to-server": copies the history file of this PC
// into the shared history the settings file names, once; a second run copies
// nothing again. No window: failures go to the error stream.
int copyHistoryToServer()
{
    app::runSettings().programFolder = app::withTrailingSeparator(app::dataFolder());
    history::openDatabase(kDatFile);
    QTextStream err(stderr);
    qint64 copied = 0;
    QElapsedTimer shown;
    shown.start();
    const QString failed = app::expectedFailureOf([&] {
        copied = history::copyHistoryToServer([&](qint64 done, qint64 total) {
            if (shown.elapsed() >= 500 || done == total) {
                err << QStringLiteral("コピー中: %1 / %2件").arg(app::groupedNumber(done), app::groupedNumber(total)) << Qt::endl;
                shown.restart();
            }
        });
    });
    history::closeDatabase(kDatFile);
    if (!failed.isEmpty()) {
        err << failed.trimmed() << Qt::endl
            << QStringLiteral("サーバーには何もコピーされていません。もう一度実行してください。") << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << app::recordCountText(copied) << QStringLiteral("の利用履歴をサーバーにコピーしました。") << Qt::endl;
    return 0;
}

const Subcommand *findSubcommand(const QString &name)
{
    for (const Subcommand &s : subcommands())
        if (QString::fromLatin1(s.name) == name)
            return &s;
    return nullptr;
}

// Why the program cannot go on with the names it was given, empty when it
// can. The file system's names are bytes, and a name that is not UTF-8 (a
// Shift_JIS name from a Windows disk) would come back as other characters:
// a command would write or read another file than the one named. The
// program's own folder is read the same way: a history beside the program
// would be missed.
QString unreadableNameRefusal(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        if (QFile::encodeName(QFile::decodeName(raw)) != raw)
            return QStringLiteral("passlog: %1番目の引数 '%2' に、読み取れない文字(UTF-8 ではない文字)があります。"
                                  "ファイル名やフォルダー名を変えてから、もう一度実行してください。")
                .arg(i)
                .arg(QFile::decodeName(raw));
    }
    if (QCoreApplication::instance() && !QFileInfo(QCoreApplication::applicationDirPath()).isDir())
        return QStringLiteral("passlog: プログラムのフォルダー名 '%1' に、読み取れない文字(UTF-8 ではない文字)があります。"
                              "フォルダー名を変えてから起動してください。")
            .arg(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
    return {};
}

bool refusedName(int argc, char *argv[])
{
    const QString refusal = unreadableNameRefusal(argc, argv);
    if (!refusal.isEmpty())
        std::fputs(qPrintable(refusal + QLatin1Char('\n')), stderr);
    return !refusal.isEmpty();
}

// The command line's one handler: a failure the user can act on is said on
// the error stream as the window would show it, and the command ends with
// status 1; any other ends the program with the error report, after the
// command's files were discarded.
template <typename Body>
int handled(Body &&body)
{
    try {
        return body();
    } catch (const ExpectedFailure &f) {
        if (!f.description().trimmed().isEmpty())
            app::showWarning(f.description());
        return 1;
    } catch (...) {
        app::reportFailureAndEnd(app::failureOf(std::current_exception(), app::Procedure::StartProgram),
                                 app::Procedure::StartProgram);
    }
}

// A subcommand runs on a core application; one that lays out text gets the
// font database of a GUI application on the offscreen platform: no display either way.
int runSubcommand(const Subcommand &command, int argc, char *argv[])
{
    const QStringList rest = [&] {
        QStringList words;
        for (int i = 2; i < argc; ++i)
            words << QString::fromLocal8Bit(argv[i]);
        return words;
    }();
    std::unique_ptr<QCoreApplication> app;
    if (command.needsFonts && command.needsFonts(rest)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int guiArgc = 1;
        app = std::make_unique<QGuiApplication>(guiArgc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    setApplicationInfo();
    if (refusedName(argc, argv))
        return 2;
    return handled([&] { return command.run(QStringList{QStringLiteral("passlog ") + QString::fromLatin1(command.name)} + rest); });
}

void printHelp(const QList<QCommandLineOption> &options)
{
    QString text = QStringLiteral("使い方: passlog [オプション]\n"
                                  "        passlog <サブコマンド> [オプション]\n\n"
                                  "ETCカードの利用履歴をカードリーダーから読み取り、カードごとに保存し、\n"
                                  "印刷とCSV出力をします。オプションなしで起動するとウィンドウを開きます。\n\n"
                                  "オプション:\n");
    for (const QCommandLineOption &o : options) {
        const QStringList names = o.names();
        if (names.size() == 2)
            text += QStringLiteral("  -%1, --%2  %3\n").arg(names.at(0), names.at(1).leftJustified(8), o.description());
        else
            text += QStringLiteral("  --%1\n      %2\n").arg(names.at(0), o.description());
    }
    text += QStringLiteral("\nサブコマンド (ウィンドウを開かずに実行します):\n");
    for (const Subcommand &s : subcommands())
        text += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(s.name).leftJustified(8),
                                                 QString::fromUtf8(s.summary));
    text += QStringLiteral("\nサブコマンドの説明: passlog <サブコマンド> --help\n");
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

} // namespace

const QList<Subcommand> &subcommands()
{
    static const QList<Subcommand> list{
        {"export", "利用履歴をCSVファイル、明細表(PDF)、月別集計(CSV)に出力します。", runExportCommand, exportNeedsFonts},
        {"import", "CSV出力で書いたファイルの利用履歴を取り込みます。",
         [](const QStringList &args) { return runImportCommand(args.mid(1)); }, nullptr},
        {"backup", "利用履歴ファイルのコピーを作ります (passlog backup --out ファイル)。", runBackupCommand, nullptr},
        {"restore", "バックアップした利用履歴ファイルを戻します (passlog restore ファイル)。", runRestoreCommand, nullptr},
        {"server", "共有の利用履歴サーバーを用意します (passlog server init: データベースの所有者が一度だけ)。",
         [](const QStringList &args) { return runServerCommand(args.mid(1)); }, nullptr},
    };
    return list;
}

void setApplicationInfo()
{
    QCoreApplication::setApplicationName(QStringLiteral("PASSLOG"));
    QCoreApplication::setApplicationVersion(app::programVersion());
}

// A first word that is not an option names a subcommand. "--version" and
// "--help" answer on the command line and end, without a window system
// (scripts and package tools ask them). Anything else is left to the window
// start; Qt's own options (-platform ...) are taken by it.
std::optional<int> answerCommandLine(int argc, char *argv[])
{
    if (argc > 1 && argv[1][0] != '-') {
        const QString name = QString::fromLocal8Bit(argv[1]);
        if (const Subcommand *command = findSubcommand(name))
            return runSubcommand(*command, argc, argv);
        std::fputs(qPrintable(QStringLiteral("passlog: 不明なサブコマンドです: %1\n"
                                             "使い方は passlog --help で表示されます。\n")
                                  .arg(name)),
                   stderr);
        return 2;
    }
    QCoreApplication core(argc, argv);
    setApplicationInfo();
    if (refusedName(argc, argv))
        return 2;
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("この説明を表示して終了します。"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("バージョンを表示して終了します。"));
    const QCommandLineOption copy(QStringLiteral("copy-history-to-server"),
                                  QStringLiteral("この PC の利用履歴を共有サーバーに一度だけコピーして終了します。"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(copy);
    const QCommandLineOption demo = demoOption();
    parser.addOption(demo);
    parser.parse(core.arguments()); // unknown options belong to Qt or are ignored
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (parser.isSet(copy))
        return handled(copyHistoryToServer);
    if (parser.isSet(help)) {
        printHelp({help, version, copy, demo});
        return 0;
    }
    return std::nullopt;
}

} // namespace start
