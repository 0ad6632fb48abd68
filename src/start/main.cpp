#include "start/basMain.h"
#include "start/ImportCommand.h"

#include "app/DataFolder.h"
#include "app/ProgramIcon.h"
#include "app/Version.h"
#include "app/Seams.h"
#include "app/Failure.h"
#include "app/basCommon.h"
#include "app/basGlobal.h"
#include "history/basAccess.h"
#include "history/basAccessEntry.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <QTextStream>
#include <QTimer>
#include <cstdio>
#include <optional>

namespace {

// "passlog --copy-history-to-server": copies the history file of this PC
// into the shared history the settings file names, once; a second run copies
// nothing again. No window: failures go to the error stream.
int copyHistoryToServer()
{
    AppPath = basCommon_CheckPath(dataFolder());
    basAccess_MDBOpen(kDatFile);
    QTextStream err(stderr);
    qint64 copied = 0;
    QElapsedTimer shown;
    shown.start();
    const QString failed = expectedFailureOf([&] {
        copied = basAccess_CopyHistoryToServer([&](qint64 done, qint64 total) {
            if (shown.elapsed() >= 500 || done == total) {
                err << QStringLiteral("コピー中: %1 / %2件").arg(done).arg(total) << Qt::endl;
                shown.restart();
            }
        });
    });
    basAccess_MDBClose(kDatFile);
    if (!failed.isEmpty()) {
        err << failed.trimmed() << Qt::endl
            << QStringLiteral("サーバーには何もコピーされていません。もう一度実行してください。") << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << copied << QStringLiteral("件の利用履歴をサーバーにコピーしました。") << Qt::endl;
    return 0;
}

void setApplicationInfo()
{
    QCoreApplication::setApplicationName(QStringLiteral("PASSLOG"));
    QCoreApplication::setApplicationVersion(programVersion());
}

// "--version" and "--help" answer on the command line and end, without a
// window system (scripts and package tools ask them). Anything else is left
// to the window start; Qt's own options (-platform ...) are taken by it.
std::optional<int> answerCommandLine(int argc, char *argv[])
{
    QCoreApplication core(argc, argv);
    setApplicationInfo();
    if (core.arguments().value(1) == QStringLiteral("import"))
        return runImportCommand(core.arguments().mid(2));
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
    parser.parse(core.arguments()); // unknown options belong to Qt or are ignored
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (parser.isSet(copy))
        return copyHistoryToServer();
    if (parser.isSet(help)) {
        QString text = QStringLiteral("使い方: passlog [オプション]\n\n"
                                      "ETCカードの利用履歴をカードリーダーから読み取り、カードごとに保存し、\n"
                                      "印刷とCSV出力をします。オプションなしで起動するとウィンドウを開きます。\n\n"
                                      "オプション:\n");
        for (const QCommandLineOption &o : {help, version})
            text += QStringLiteral("  -%1, --%2  %3\n").arg(o.names().at(0), o.names().at(1).leftJustified(8),
                                                            o.description());
        text += QStringLiteral("  --%1\n      %2\n").arg(copy.names().at(0), copy.description());
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> answered = answerCommandLine(argc, argv))
        return *answered;
    QApplication app(argc, argv);
    setApplicationInfo();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(programIcon(size)));
    QApplication::setWindowIcon(icon);
    watchSessionEnd();
    basMain_Main();
    // For the start-up benchmark: end normally once the window is shown.
    if (qEnvironmentVariableIsSet("PASSLOG_QUIT_WHEN_SHOWN"))
        QTimer::singleShot(0, &app, [] { endForSessionEnd(); });
    return app.exec();
}
