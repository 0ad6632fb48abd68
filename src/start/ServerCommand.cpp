#include "start/ServerCommand.h"
#include "app/RunSettings.h"

#include "app/DataFolder.h"
#include "app/Failure.h"
#include "app/Settings.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/Database.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <QTextStream>

namespace start {

namespace {

const QString kUsage = QStringLiteral(
    "使い方: passlog server init [--role ロール名]\n\n"
    "設定ファイルの [DATABASE] が指す PostgreSQL サーバーに、共有の利用履歴のテーブルと\n"
    "索引を作ります(前の版のテーブルは今の形にします)。データベースの所有者として一度だけ\n"
    "実行してください。何度実行しても同じです。形の違うテーブルがあるときは何も変更しません。\n"
    "最後に、日々使う PC のロールに与える権限(GRANT)を表示します。\n\n"
    "  --role ロール名  GRANT の行に書くロール(既定: passlog_user)。\n");

int usageError(const QString &what)
{
    QTextStream(stderr) << what << Qt::endl << Qt::endl << kUsage;
    return 2;
}

} // namespace

int runServerCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption role(QStringLiteral("role"), QString(), QStringLiteral("role"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({role, help});
    if (!parser.parse(QStringList{QStringLiteral("passlog")} + args))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        QTextStream(stdout) << kUsage;
        return 0;
    }
    if (parser.positionalArguments() != QStringList{QStringLiteral("init")})
        return usageError(QStringLiteral("passlog server: init を指定してください。"));
    const QString roleName = parser.isSet(role) ? parser.value(role) : QStringLiteral("passlog_user");
    // PUBLIC is every role that can connect, not one: the printed lines would
    // give all of them the history to read, change and delete.
    if (roleName.compare(QStringLiteral("public"), Qt::CaseInsensitive) == 0)
        return usageError(QStringLiteral("passlog server: --role に ") + roleName +
                          QStringLiteral(" は指定できません。すべてのロールに利用履歴の読み書きと削除を許すことになります。"
                                         "日々使う PC 専用のロール(例: passlog_user)を作って、その名前を指定してください。"));
    // A plain name of one role, as the server folds it: lower case (a name
    // typed with capitals is another role there), at most 63 characters,
    // not a word that names a role by context, no role of the server's own.
    static const QRegularExpression plainName(QStringLiteral("^[a-z_][a-z0-9_]{0,62}$"));
    static const QStringList reserved{QStringLiteral("current_user"), QStringLiteral("session_user"),
                                      QStringLiteral("current_role"), QStringLiteral("user"), QStringLiteral("none")};
    if (!plainName.match(roleName).hasMatch() || reserved.contains(roleName) || roleName.startsWith(QLatin1String("pg_")))
        return usageError(QStringLiteral("passlog server: --role には、日々使う PC 専用のロール名を英小文字・数字・_ の63文字以内で"
                                         "指定してください(current_user、none、pg_ で始まる名前などは使えません): ") +
                          roleName);
    app::runSettings().programFolder = app::withTrailingSeparator(app::dataFolder());
    QString grants;
    const QString failed = app::expectedFailureOf([&] {
        history::initServer();
        grants = history::serverGrants(roleName);
    });
    history::closeDatabase(kDatFile); // the server's connection
    QTextStream err(stderr);
    if (!failed.isEmpty()) {
        err << failed.trimmed() << Qt::endl;
        return 1;
    }
    const history::HistoryServer server = history::serverSetting();
    QTextStream out(stdout);
    out << QStringLiteral("共有の利用履歴のテーブルを用意しました。 (") << server.describe() << QStringLiteral(")")
        << Qt::endl
        << QStringLiteral("日々使う PC のロールには、次の権限だけを与えてください(データベースの所有者として実行):")
        << Qt::endl
        << grants;
    return 0;
}

} // namespace start
