#include "history/ServerConnection.h"

#include "app/Common.h"
#include "app/Failure.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "history/DatabaseErrors.h"
#include "history/HistoryStore.h"
#include "history/HistoryWorker.h"
#include "history/ServerCopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <memory>
#include <optional>

history::HistoryServer history::serverSetting()
{
    history::HistoryServer server;
    const QString file = app::settingsFileName();
    auto read = [&](const char *key) {
        const QString value = app::readProfileString(kSectionDatabase, QString::fromLatin1(key), file);
        return value == kIniMissing ? QString() : value.trimmed();
    };
    // A history of the run's own never reaches the shared one.
    server.shared = history::store().privateFolder.isEmpty() &&
                    read("Driver").compare(QLatin1String("PSQL"), Qt::CaseInsensitive) == 0;
    server.host = read("Host");
    server.port = read("Port").toInt();
    server.name = read("Name");
    server.user = read("User");
    server.sslMode = read("SSLMode");
    server.sslRootCert = read("SSLRootCert");
    return server;
}

QString history::HistoryServer::describe() const
{
    return QStringLiteral("PostgreSQL ") + (host.isEmpty() ? QStringLiteral("localhost") : host) +
           (port > 0 ? QLatin1Char(':') + QString::number(port) : QString()) + QLatin1Char('/') + name;
}

namespace {

const QString kServerConnection = history::connectionName(DbConnection::Server);

void serverStateChanged()
{
    if (history::store().serverListener)
        history::store().serverListener();
}

// Connection options of libpq: a server that takes the connection but does
// not answer is given up after about 5 s, and a connection whose peer
// vanished is noticed by the keepalives instead of hanging. The tables live
// in the schema public (data/schema_history_server.sql): the search path is
// public alone, so that the set-up, the grants it prints and every statement
// of the day-to-day PCs mean the same tables, whatever schemas the roles
// have of their own (temporary tables are found first all the same).
const QString kServerOptions = QStringLiteral(
    "connect_timeout=5;application_name=PASSLOG;keepalives=1;keepalives_idle=10;keepalives_interval=2;"
    "keepalives_count=3;tcp_user_timeout=10000;options=-csearch_path=public");

// A statement of the program that waits for another session's lock gives up
// after this long (the table locks of changes wait in short tries instead,
// see history::lockServerTable).
const QString kSessionLockTimeout = QStringLiteral("10s");

const QString kSqlStateLockTimeout = QStringLiteral("55P03");

} // namespace

QString history::serverAwayText(const history::HistoryServer &server, const QString &reason)
{
    return history::serverConnectSentence(reason) + QStringLiteral(" (") + server.describe() + QStringLiteral(") ") +
           reason.trimmed();
}

namespace {

[[noreturn]] void refuseSetting(const QString &text)
{
    throw ExpectedFailure(-1, text + QStringLiteral(" (設定ファイル: ") + QDir::toNativeSeparators(app::settingsFileName()) +
                                  QLatin1Char(')'));
}

// A value for libpq's connection string, in quotes: the Qt driver joins the
// options with spaces, so a path with a space must be quoted.
QString conninfoValue(const QString &value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The options of the connection to server; a setting the client library
// could not use is refused here, naming the key and what it takes.
QString serverOptions(const history::HistoryServer &server)
{
    QString options = kServerOptions;
    // One try of the plain connection (with TLS when the server offers it),
    // not a first one by Kerberos (GSS) that a silent server would make
    // wait as long again: unless the environment asks for it.
    if (qEnvironmentVariableIsEmpty("PGGSSENCMODE"))
        options += QStringLiteral(";gssencmode=disable");
    static const QStringList modes{QStringLiteral("disable"), QStringLiteral("allow"),     QStringLiteral("prefer"),
                                   QStringLiteral("require"), QStringLiteral("verify-ca"), QStringLiteral("verify-full")};
    if (!server.sslMode.isEmpty()) {
        const QString mode = server.sslMode.toLower();
        if (!modes.contains(mode))
            refuseSetting(QStringLiteral("設定ファイルの [DATABASE] SSLMode の値 '") + server.sslMode +
                          QStringLiteral("' は使えません。") + modes.join(QStringLiteral(", ")) +
                          QStringLiteral(" のどれかを指定してください(事務所の認証局で確かめるには verify-full)。"));
        options += QStringLiteral(";sslmode=") + mode;
    }
    if (!server.sslRootCert.isEmpty()) {
        const QFileInfo file(server.sslRootCert);
        if (server.sslRootCert.contains(QLatin1Char(';')) || !file.isFile() || !file.isReadable())
            refuseSetting(QStringLiteral("設定ファイルの [DATABASE] SSLRootCert のファイル '") + server.sslRootCert +
                          QStringLiteral("' が見つからないか、読めません。事務所の認証局(CA)の証明書ファイルの場所を"
                                         "フルパスで指定してください(パスに「;」は使えません)。"));
        options += QStringLiteral(";sslrootcert=") + conninfoValue(QDir::fromNativeSeparators(file.absoluteFilePath()));
    }
    return options;
}

} // namespace

QSqlDatabase history::addServerConnection(const history::HistoryServer &server, const QString &name)
{
    const QString options = serverOptions(server); // refused before a connection is made
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(server.host);
    if (server.port > 0)
        db.setPort(server.port);
    db.setDatabaseName(server.name);
    db.setUserName(server.user);
    // No password here: the server's own mechanisms supply it (the password
    // file ~/.pgpass or PGPASSFILE, or PGPASSWORD in the environment).
    db.setConnectOptions(options);
    return db;
}

namespace {

// Connects to the shared history under the connection name given and makes
// sure its table has the program's shape, reading the catalogue only: a
// day-to-day role needs no right to create anything.
void openServer(const history::HistoryServer &server, const QString &name = kServerConnection)
{
    QSqlDatabase db = addServerConnection(server, name);
    try {
        if (!db.open())
            throw ExpectedFailure(db.lastError().nativeErrorCode().toLong(),
                                  serverAwayText(server, db.lastError().text()));
        QSqlQuery setup(db);
        if (!setup.exec(QStringLiteral("SET lock_timeout = '") + kSessionLockTimeout + QLatin1Char('\'')))
            throw ExpectedFailure(-1, serverAwayText(server, setup.lastError().text()));
        setup.finish();
        const QString problem = serverShapeProblem(db, server);
        if (!problem.isEmpty())
            refuseShape(server, problem);
    } catch (...) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw;
    }
}

void closeServer()
{
    if (!QSqlDatabase::contains(kServerConnection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(kServerConnection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(kServerConnection);
}

// Waits for the background try (when there is one) and takes its outcome:
// true when it failed, and history::store().serverAway says why.
bool takeBackgroundTry()
{
    if (!history::store().background)
        return false;
    std::unique_ptr<history::BackgroundTry> done = std::move(history::store().background);
    done->thread->wait();
    delete done->thread;
    if (done->away.isEmpty())
        return false;
    history::store().serverAway = done->away;
    serverStateChanged();
    return true;
}

} // namespace

void history::useServerOf(const history::HistoryServer &setting)
{
    history::store().server.reset();
    history::store().serverAway.clear();
    if (setting.shared)
        history::store().server = setting;
}

void history::forgetServer()
{
    takeBackgroundTry();
    closeServer();
    history::store().server.reset();
    history::store().serverAway.clear();
}

bool history::serverConfigured() { return history::store().server.has_value(); }

QSqlDatabase history::serverConnection()
{
    if (!history::isOpen(DbConnection::Server)) {
        // The start's own try, still running or ended: its answer counts
        // for this operation, rather than a second wait as long.
        if (takeBackgroundTry())
            throw ExpectedFailure(-1, history::store().serverAway);
        closeServer();
        try {
            openServer(*history::store().server);
            history::store().serverAway.clear();
        } catch (const Failure &f) {
            history::store().serverAway = f.description();
            serverStateChanged();
            throw ExpectedFailure(f.number(), f.description());
        }
        serverStateChanged();
    }
    return QSqlDatabase::database(kServerConnection, false);
}

bool history::usesServer() { return history::store().server.has_value(); }

QString history::serverAwayReason() { return history::store().server ? history::store().serverAway : QString(); }

void history::throwServerError(const QSqlError &error)
{
    // Whether the connection survived: a refused statement leaves it usable
    // (inside a transaction the server then refuses everything but its end),
    // a lost one is closed here and opened again by the next operation.
    bool alive = false;
    if (QSqlDatabase::contains(kServerConnection)) {
        QSqlDatabase db = QSqlDatabase::database(kServerConnection, false);
        if (db.isOpen() && error.type() != QSqlError::ConnectionError) {
            QSqlQuery probe(db);
            alive = probe.exec(QStringLiteral("SELECT 1")) ||
                    probe.lastError().nativeErrorCode() == QLatin1String("25P02"); // in a failed transaction
        }
    }
    const history::HistoryServer server = history::store().server.value_or(history::serverSetting());
    bool ok = false;
    long number = error.nativeErrorCode().toLong(&ok);
    if (!ok)
        number = -1;
    if (!alive) {
        closeServer();
        history::store().serverAway = QStringLiteral("サーバーとの接続が切れました: ") + server.describe() + QLatin1Char(' ') +
                       error.text().trimmed();
        serverStateChanged();
        throw ExpectedFailure(number, QStringLiteral("共有の利用履歴サーバーとの接続が切れました。操作は行われていません。"
                                                     "もう一度操作すると、つなぎ直します。 (サーバーとの接続が切れました: ") +
                                          server.describe() + QStringLiteral(") ") + error.text().trimmed());
    }
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    if (error.nativeErrorCode() == kSqlStateLockTimeout)
        throw ExpectedFailure(number, QStringLiteral("他のPCが共有の利用履歴を使用中のため、処理できませんでした。"
                                                     "何も変更していません。しばらくしてから、もう一度操作してください。 (") +
                                          server.describe() + QStringLiteral(") ") + text.trimmed());
    if (error.nativeErrorCode() == QLatin1String("42501")) // insufficient privilege
        throw ExpectedFailure(number, QStringLiteral("共有の利用履歴サーバーで、この操作の権限がありません。"
                                                     "データベースの管理者に、利用者のロールへの権限(passlog server init "
                                                     "が表示する GRANT)を確認してもらってください。 (") +
                                          server.describe() + QStringLiteral(") ") + text.trimmed());
    throw ExpectedFailure(number, QStringLiteral("共有の利用履歴サーバーが処理を受け付けませんでした。 (") +
                                      server.describe() + QStringLiteral(") ") + text.trimmed());
}

void history::throwServerSilent()
{
    const history::HistoryServer server = history::store().server.value_or(history::serverSetting());
    closeServer();
    const QString seconds = QString::number(kServerSilenceMs / 1000);
    history::store().serverAway = QStringLiteral("サーバーが応答しません: ") + server.describe();
    serverStateChanged();
    throw ExpectedFailure(-1, QStringLiteral("共有の利用履歴サーバーが%1秒以上応答しなくなったため、処理を中止しました。"
                                             "何も変更していません。サーバーが止まっていないか、データベースの管理者に"
                                             "確認してもらってから、もう一度操作してください。 (")
                                  .arg(seconds) +
                                  server.describe() + QLatin1Char(')'));
}

bool history::serverConnected() { return history::store().server && history::isOpen(DbConnection::Server); }

void history::setServerStateListener(std::function<void()> listener) { history::store().serverListener = std::move(listener); }

void history::connectServerInBackground(std::function<void()> done)
{
    if (!history::store().server || history::isOpen(DbConnection::Server) || history::store().background)
        return;
    auto attempt = std::make_unique<history::BackgroundTry>();
    history::BackgroundTry *raw = attempt.get();
    const history::HistoryServer server = *history::store().server;
    const int round = ++history::store().serverConnectRound;
    raw->thread = QThread::create([raw, server] {
        const QString name = QStringLiteral("passlohistory::store().server_background");
        try {
            openServer(server, name);
            QSqlDatabase::database(name, false).close();
        } catch (const Failure &f) {
            raw->away = f.description();
            raw->number = f.number();
        }
        QSqlDatabase::removeDatabase(name);
    });
    // The outcome is taken on the program's thread: a connection belongs to
    // the thread that made it, so a server that answered is connected again
    // there (at once, now that it answers).
    QObject::connect(raw->thread, &QThread::finished, QCoreApplication::instance(), [round, done] {
        if (round != history::store().serverConnectRound || !history::store().server)
            return; // the history was closed in the meantime
        if (history::store().background && !takeBackgroundTry())
            app::expectedFailureOf([] { serverConnection(); });
        if (done && history::isOpen(DbConnection::Server))
            done();
    }, Qt::QueuedConnection);
    history::store().background = std::move(attempt);
    raw->thread->start();
}

namespace {
// Takes a lock with statement in the open transaction of db, in short tries
// that let keepGoing be asked, for kServerLockWaitMs in all.
void lockInTries(QSqlDatabase db, const QString &statement, const std::function<bool()> &keepGoing)
{
    QSqlQuery q(db);
    history::runText(q, QStringLiteral("SET LOCAL lock_timeout = '%1ms'").arg(kServerLockTryMs), true);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        history::runText(q, QStringLiteral("SAVEPOINT passlog_table_lock"), true);
        if (q.exec(statement)) {
            q.finish();
            history::runText(q, QStringLiteral("RELEASE SAVEPOINT passlog_table_lock"), true);
            history::runText(q, QStringLiteral("SET LOCAL lock_timeout = '") + kSessionLockTimeout + QLatin1Char('\''), true);
            return;
        }
        const QSqlError refused = q.lastError();
        if (refused.nativeErrorCode() != kSqlStateLockTimeout || waited.elapsed() >= kServerLockWaitMs)
            history::throwServerError(refused);
        history::runText(q, QStringLiteral("ROLLBACK TO SAVEPOINT passlog_table_lock"), true);
        if (keepGoing && !keepGoing())
            throw history::WorkStopped();
    }
}
} // namespace

void history::lockServerTable(QSqlDatabase db, const QString &mode, const std::function<bool()> &keepGoing)
{
    lockInTries(db, QStringLiteral("LOCK TABLE ETC_DATA IN ") + mode + QStringLiteral(" MODE"), keepGoing);
}

void history::lockServerHistoryWriters(QSqlDatabase db, const std::function<bool()> &keepGoing)
{
    lockInTries(db, QStringLiteral("SELECT pg_advisory_xact_lock(20240502)"), keepGoing);
}

