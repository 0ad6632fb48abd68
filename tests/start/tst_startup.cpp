// The start sequence: its refusals (second instance, font size, screen size),
// the settings file it creates, the initial state of the window, shutdown.

#include "app/RunSettings.h"
#include "app/DataFolder.h"
#include "reader/ReaderLink.h"
#include "app/Constants.h"
#include "../../tools/reader-emulator/EmulatorProcess.h"
#include "start/Startup.h"
#include "history/HistoryUse.h"
#include "history/HistoryBackup.h"
#include "history/Database.h"
#include "ui/MainWindow.h"
#include "TestHarness.h"

#include <QAction>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include "ui/FrameControl.h"
#include <QLabel>
#include <QLockFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>
#include <QtTest>
#include <optional>
#ifdef Q_OS_UNIX
#include <csignal>
#include <pwd.h>
#include <unistd.h>
#endif

using namespace ui;
using namespace start;

// The start-up warning when the reader's port is missing or held elsewhere.
static const QString kNoReaderPort =
    QStringLiteral("指定されたCOMポートが存在しないか既に使用中ため機器に接続できません。");

// An environment variable for one scope (a null value unsets it).
struct ScopedEnv {
    const char *name;
    std::optional<QByteArray> saved;
    ScopedEnv(const char *n, const QByteArray &value) : name(n)
    {
        if (qEnvironmentVariableIsSet(n))
            saved = qgetenv(n);
        value.isNull() ? qunsetenv(n) : qputenv(n, value);
    }
    ~ScopedEnv() { saved ? qputenv(name, *saved) : qunsetenv(name); }
};

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { releaseSingleInstance(); }
    void secondInstanceIsRefusedWithoutTouchingSettings();
    void lockIsNamedAfterTheRealUser();
    void lockLivesInAFolderOnlyItsUserWrites();
    void lockThatCannotBeTakenSaysWhy();
    void endSignalsRunTheEndSequence();
    void screenChecks_data();
    void screenChecks();
    void startUpPutsTheWindowInItsInitialState();
    void shutdownStopsTheTimerAndEnds();
    void filesTheStartCreatesAreReadableByTheirOwnerOnly();
    void backupAndRestoreOnTheCommandLine();
    void dailyCopyFollowsTheDay();
};

void TestStartup::secondInstanceIsRefusedWithoutTouchingSettings()
{
    TestHarness h;
    QLockFile other(h.lockPath()); // the instance that is already running
    QVERIFY(other.tryLock(0));
    MainWindow window;
    QVERIFY(endsProgram([&] { startSequence(window); }));
    QCOMPARE(h.messageTexts(), QStringList{QStringLiteral("PASSLOGを複数起動することは出来ません。")});
    QCOMPARE(h.messages().first().icon, seams::MsgIcon::Warning);
    QVERIFY(!QFile::exists(h.settingsFile()));
    QVERIFY(!window.TimerPolling->isActive());
    other.unlock();

    // Once the first instance is gone, the start goes on.
    QVERIFY(!endsProgram([&] { startSequence(window); }));
    QVERIFY(QFile::exists(h.settingsFile()));
}

void TestStartup::lockIsNamedAfterTheRealUser()
{
#ifdef Q_OS_UNIX
    const passwd *account = ::getpwuid(::getuid());
    const QString user = account ? QString::fromLocal8Bit(account->pw_name) : QString::number(::getuid());
    const QByteArray savedUser = qgetenv("USER"), savedUserName = qgetenv("USERNAME");
    QStringList names;
    for (const char *env : {"", "someone-else"}) {
        if (*env) {
            qputenv("USER", env);
            qputenv("USERNAME", env);
        } else {
            qunsetenv("USER");
            qunsetenv("USERNAME");
        }
        names << QFileInfo(seams::instanceLockPath()).fileName();
    }
    qputenv("USER", savedUser);
    qputenv("USERNAME", savedUserName);
    // Without the variables, or with another user's name in them, the lock is the real user's.
    QCOMPARE(names, QStringList(2, QStringLiteral("PASSLOG-") + user + QStringLiteral(".lock")));
#else
    QSKIP("user ids are POSIX");
#endif
}

// Nobody else can take the lock's name: it lives in the user's runtime folder,
// or in the user's own data folder when the runtime folder is not the user's
// alone. A running instance holding it still refuses the second start.
void TestStartup::lockLivesInAFolderOnlyItsUserWrites()
{
#ifdef Q_OS_UNIX
    TestHarness h;
    seams::setInstanceLockPath({}); // the real place
    QTemporaryDir home;
    const QString runtime = home.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkdir(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.toUtf8());
    ScopedEnv dataHome("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    const QString lock = seams::instanceLockPath();
    QCOMPARE(QFileInfo(lock).absolutePath(), runtime);
    QLockFile running(lock);
    QVERIFY(running.tryLock(0));
    QCOMPARE(acquireSingleInstance(), QStringLiteral("PASSLOGを複数起動することは出来ません。"));
    running.unlock();
    QCOMPARE(acquireSingleInstance(), QString());
    releaseSingleInstance();

    // Qt's stand-in for a missing runtime folder, made first by someone else.
    if (::geteuid() != 0)
        QSKIP("only root can hand a folder to another user");
    ScopedEnv noRuntimeDir("XDG_RUNTIME_DIR", QByteArray());
    ScopedEnv temp("TMPDIR", home.path().toUtf8());
    const QString taken = home.filePath(QStringLiteral("runtime-") + QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name));
    QVERIFY(QDir().mkdir(taken) && ::chown(QFile::encodeName(taken).constData(), 65534, 65534) == 0);
    const QString fallback = QFileInfo(seams::instanceLockPath()).absolutePath();
    QCOMPARE(fallback, home.filePath(QStringLiteral("data/")) + QCoreApplication::applicationName());
    const auto ownerGroupOther = QFileDevice::Permissions(0x7077); // the mode bits, without Qt's "user" ones
    QCOMPARE(QFileInfo(fallback).permissions() & ownerGroupOther, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#else
    QSKIP("the runtime folder is a Unix one");
#endif
}

// A lock that cannot be made is no second instance: the warning names the
// file and what is in the way, and the start ends before the settings.
void TestStartup::lockThatCannotBeTakenSaysWhy()
{
    TestHarness h;
    QTemporaryDir dir;
    QString closed = dir.filePath(QStringLiteral("closed"));
    QVERIFY(QDir().mkdir(closed, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    // Root writes any folder, though not the kernel's (where they are mounted).
    for (const QString kernels : {QStringLiteral("/sys"), QStringLiteral("/proc")})
        if (app::folderIsWritable(closed))
            closed = kernels;
    if (app::folderIsWritable(closed))
        QSKIP("no folder here refuses a new file");
    const QString missing = dir.filePath(QStringLiteral("missing"));
    for (const auto &[folder, reason] : {std::pair{missing, QStringLiteral("がありません。")},
                                         std::pair{closed, QStringLiteral("に書き込む権限がありません。")}}) {
        h.clearMessages();
        const QString lock = folder + QStringLiteral("/PASSLOG.lock");
        seams::setInstanceLockPath(lock);
        MainWindow window;
        QVERIFY(endsProgram([&] { startSequence(window); }));
        QCOMPARE(h.messageTexts(), QStringList{QStringLiteral("PASSLOGを起動できません。起動中の確認に使うロックファイル '%1' を作成できません: フォルダー '%2' %3")
                                                   .arg(lock, folder, reason)});
        QVERIFY(!QFile::exists(h.settingsFile()));
    }
    QFile::setPermissions(dir.filePath(QStringLiteral("closed")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// The program as the session ends it (logout, shutdown, Ctrl+C): it runs its
// end sequence, so the history's write-ahead log is gone and the lock released.
void TestStartup::endSignalsRunTheEndSequence()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir; // a portable copy of the program keeps its data beside it
    const QDir folder(dir.path());
    QVERIFY(QFile::copy(QStringLiteral(PASSLOG_PROGRAM), folder.filePath(QStringLiteral("passlog"))));
    QVERIFY(QFile::copy(QStringLiteral(PASSLOG_BINARY_DIR "/ETC_MST.sqlite"), folder.filePath(QStringLiteral("ETC_MST.sqlite"))));
    const QString runtime = folder.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkdir(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    EmulatorProcess emulator({QStringLiteral("--state"), QStringLiteral("readable")});
    QVERIFY(emulator.started());
    auto write = [&](const QString &name, const QString &text) {
        QFile f(folder.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size());
    };
    write(QStringLiteral("passlog.ini"), QStringLiteral("[RS232C]\r\nComPort=1\r\nDevice1=%1\r\n").arg(emulator.link()));
    // The offscreen platform's own screen (800 x 600) is too small to start on.
    write(QStringLiteral("screen.json"), QStringLiteral(R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96}]})"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + folder.filePath(QStringLiteral("screen.json")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("HOME"), dir.path());
    const QString wal = folder.filePath(QStringLiteral("ETC_DAT.sqlite-wal"));
    for (const int signal : {SIGTERM, SIGINT}) {
        QProcess passlog;
        passlog.setProcessEnvironment(env);
        passlog.setProcessChannelMode(QProcess::MergedChannels);
        passlog.start(folder.filePath(QStringLiteral("passlog")), {});
        // Running: the lock taken, the history open, the reader polled by the timer.
        QVERIFY2(QTest::qWaitFor([&] { return QFileInfo::exists(wal) && !QDir(runtime).isEmpty(); }, 20000),
                 passlog.readAll().constData());
        while (!emulator.nextLine(QString(), 0).isNull()) {} // the traffic of the run before
        QVERIFY(!emulator.nextLine(QStringLiteral("rx "), 5000).isNull());
        QVERIFY(::kill(pid_t(passlog.processId()), signal) == 0);
        QVERIFY(passlog.waitForFinished(5000));
        QCOMPARE(passlog.exitStatus(), QProcess::NormalExit);
        QCOMPARE(passlog.exitCode(), 0);
        QVERIFY2(!QFileInfo::exists(wal) && QDir(runtime).isEmpty(), qPrintable(QString::number(signal)));
    }
#else
    QSKIP("signals are POSIX");
#endif
}

// Sizes and dpi in device pixels, with the factor by which Qt scales the
// layout; the checks are made in the window's own (logical) pixels.
void TestStartup::screenChecks_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("dpi");
    QTest::addColumn<double>("ratio");
    QTest::addColumn<int>("availableHeight"); // without the task bar; 0: the whole screen
    QTest::addColumn<QString>("message"); // empty: the start goes on
    const QString font = QStringLiteral("フォントサイズを小さいフォントに変更してください。現在ご利用のフォントには対応しておりません｡");
    auto size = [](int w, int h) {
        return QStringLiteral("画面の領域を 1024 x 768 ピクセル以上に変更してください。%1 x%2 ピクセルでは、起動することが出来ません。")
            .arg(w)
            .arg(h);
    };
    // The window (921 x about 640 of its own pixels, title bar included)
    // must fit the part of the screen a window may take, at the display's scale.
    QTest::newRow("100 %: 1024x768 at 96 dpi") << 1024 << 768 << 96.0 << 1.0 << 0 << QString();
    QTest::newRow("100 %: 1024x600") << 1024 << 600 << 96.0 << 1.0 << 0 << size(1024, 600);
    QTest::newRow("100 %: 800x600") << 800 << 600 << 96.0 << 1.0 << 0 << size(800, 600);
    QTest::newRow("100 %: 1024x768, a task bar of 200") << 1024 << 768 << 96.0 << 1.0 << 568 << size(1024, 768);
    // Fonts at 120 dpi while the layout stays at 100 %: the fixed layout
    // would be crowded, so this is still refused (it used to be the only way
    // a 120-dpi display was seen).
    QTest::newRow("120 dpi, layout not scaled") << 2560 << 1600 << 120.0 << 1.0 << 0 << font;
    QTest::newRow("200 %, fonts larger than the layout") << 2560 << 1600 << 240.0 << 2.0 << 0 << font;
    // Scaled displays: layout and fonts grow together.
    QTest::newRow("125 %: 1920x1080") << 1920 << 1080 << 120.0 << 1.25 << 0 << QString();
    QTest::newRow("150 %: 1920x1200") << 1920 << 1200 << 144.0 << 1.5 << 0 << QString();
    QTest::newRow("150 %: 1920x1080 is 1280x720") << 1920 << 1080 << 144.0 << 1.5 << 1040 << QString();
    QTest::newRow("200 %: 2560x1600") << 2560 << 1600 << 192.0 << 2.0 << 0 << QString();
    QTest::newRow("150 %: 1366x768 is 911x512") << 1366 << 768 << 144.0 << 1.5 << 0 << size(911, 512);
    QTest::newRow("200 %: 1920x1200 is 960x600") << 1920 << 1200 << 192.0 << 2.0 << 0 << size(960, 600);
}

void TestStartup::screenChecks()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, dpi);
    QFETCH(double, ratio);
    QFETCH(int, availableHeight);
    QFETCH(QString, message);
    TestHarness h;
    seams::setScreenMetrics(seams::ScreenMetrics{width, height, dpi, dpi, ratio, availableHeight ? width : 0, availableHeight});
    MainWindow window;
    const bool ended = endsProgram([&] { startSequence(window); });
    QCOMPARE(ended, !message.isEmpty());
    if (ended) {
        // A screen of 1024 x 768 or more at a scaling above 100 %: the next
        // step is a lower scaling, and the line says so.
        const QString scaled = ratio > 1.0 && width >= 1024 && height >= 768 && message.startsWith(QStringLiteral("画面の領域"))
                                   ? QStringLiteral("\r\n画面は十分な大きさです。ディスプレイの拡大率(現在 %1 %)を小さくしてください。")
                                         .arg(qRound(ratio * 100))
                                   : QString();
        QCOMPARE(h.messageTexts(), QStringList{message + scaled});
        QVERIFY(!QFile::exists(h.settingsFile())); // refused before the settings are touched
    } else {
        QCOMPARE(h.messageTexts(), QStringList{kNoReaderPort}); // the test machine has no reader
    }
}

void TestStartup::startUpPutsTheWindowInItsInitialState()
{
    TestHarness h;
    h.setNow(QDateTime(QDate(2026, 12, 7), QTime(15, 30, 12)));
    MainWindow window;
    reader::link().relayMode = reader::RelayMode::ThroughRelayUnit;
    reader::link().noReplyCount = 5;
    reader::link().sendToggle = 0;
    startSequence(window);

    QVERIFY(QFile::exists(h.settingsFile()));
    QVERIFY(window.ProgressBar->isHidden());
    for (QAction *a : {window.mnuCSVOutput, window.mnuPrintDefault, window.mnuPrintDesktop, window.mnuRecordCheck,
                       window.mnuRecordDelete})
        QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
    for (QAction *a : {window.mnuExit, window.mnuView, window.mnuPort, window.mnuAbout})
        QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
    for (QPushButton *b : {window.btnCardRead, window.btnViewCls, window.btnDBEntry, window.btnDBRead, window.btnDBDelete,
                           window.btnPrintDefault, window.btnPrintDesktop, window.btnCSVOutput})
        QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
    QVERIFY(window.btnExit->isEnabled());
    QCOMPARE(window.lblCountValue->text(), QStringLiteral("0件"));
    QCOMPARE(window.lblSumValue->text(), QStringLiteral("0円"));
    QCOMPARE(window.lblCardValue->text(), QStringLiteral("未接続"));
    QCOMPARE(window.dtpDateStart->date(), QDate(2026, 12, 7));
    QCOMPARE(window.dtpDateEnd->date(), QDate(2026, 12, 7));
    QCOMPARE(window.dtpTimeStart->time(), QTime(0, 0, 0));
    QCOMPARE(window.dtpTimeEnd->time(), QTime(23, 59, 59));
    QCOMPARE(reader::link().relayMode, reader::RelayMode::Direct);
    QCOMPARE(reader::link().noReplyCount, 0);
    QCOMPARE(reader::link().sendToggle, 128);
    QVERIFY(window.optSelectMode[0]->isChecked());
    QVERIFY(window.dtpDateStart->isHidden());
    QVERIFY(window.optCardNo[0]->isChecked());
    QVERIFY(window.TimerPolling->isActive());
    QCOMPARE(window.TimerPolling->interval(), 1000);
    QCOMPARE(h.messageTexts(), QStringList{kNoReaderPort}); // the test machine has no reader
}

void TestStartup::shutdownStopsTheTimerAndEnds()
{
    TestHarness h;
    MainWindow window;
    startSequence(window);
    QVERIFY(window.TimerPolling->isActive());
    QVERIFY(endsProgram([&] { endSequence(&window); }));
    QVERIFY(!window.TimerPolling->isActive());
    // The lock is released: the next start is not refused.
    QVERIFY(!endsProgram([&] { startSequence(window); }));
}

void TestStartup::filesTheStartCreatesAreReadableByTheirOwnerOnly()
{
#ifdef Q_OS_UNIX
    const auto ownerOnly =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    const auto shared = ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    const QString history = QStringLiteral("ETC_DAT.sqlite");
    {
        TestHarness h;
        MainWindow window;
        startSequence(window);
        const QDir folder(h.programFolder());
        for (const QString &path : {h.settingsFile(), folder.filePath(history), h.lockPath()})
            QVERIFY2(QFileInfo(path).permissions() == ownerOnly, qPrintable(path));
        QVERIFY(endsProgram([&] { endSequence(&window); }));
        releaseSingleInstance();

        // Files that exist keep the permissions their owner gave them.
        for (const QString &path : {h.settingsFile(), folder.filePath(history)})
            QVERIFY(QFile::setPermissions(path, shared));
        startSequence(window);
        for (const QString &path : {h.settingsFile(), folder.filePath(history)})
            QVERIFY2(QFileInfo(path).permissions() == shared, qPrintable(path));
    }
#else
    QSKIP("owner-only file modes are POSIX");
#endif
}

// passlog backup and restore as a user runs them, in a folder named in
// Japanese under the C locale: a copy that is never put over a file without
// --force nor over one of the program's own files; a restore that holds the
// history alone (a writer before it is waited for, one after it waits), never
// leaves a log beside the file it puts in place, and is not refused for a
// window on another folder.
void TestStartup::backupAndRestoreOnTheCommandLine()
{
    QTemporaryDir dir;
    const QDir folder(QDir(dir.path()).filePath(QStringLiteral("経理")));
    QVERIFY(QDir().mkpath(folder.path()));
    QVERIFY(QFile::copy(QStringLiteral(PASSLOG_PROGRAM), folder.filePath(QStringLiteral("passlog"))));
    const QString runtime = QDir(dir.path()).filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkdir(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    const auto start = [&](QProcess &p, const QStringList &args) {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(folder.filePath(QStringLiteral("passlog")), args);
    };
    const auto run = [&](const QStringList &args) {
        QProcess p;
        start(p, args);
        p.waitForFinished(60000);
        return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAll()));
    };
    const QString history = folder.filePath(QStringLiteral("ETC_DAT.sqlite"));
    const auto rows = [&] {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rows"));
        db.setDatabaseName(history);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        int n = -1;
        if (db.open()) {
            QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM ETC_DATA"), db);
            n = q.next() ? q.value(0).toInt() : -1;
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("rows"));
        return n;
    };
    const auto csv = [&](const QString &name, int lines, int from = 0) {
        QFile f(folder.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (int i = from; i < from + lines; ++i)
            f.write(QStringLiteral("\"1234\",\"2024/05/20\",\"18:42:%1\",1,1320,\"yen\",\"car\",101,\"01001\",104,"
                                   "\"01005\",\"a\",\"b\",\"c\",\"d\",\"e\",\"f\"\r\n")
                        .arg(i, 2, 10, QLatin1Char('0'))
                        .toUtf8());
    };
    csv(QStringLiteral("one.csv"), 1);
    csv(QStringLiteral("three.csv"), 3);
    csv(QStringLiteral("later.csv"), 2, 10);
    const QString copy = folder.filePath(QStringLiteral("バックアップ.sqlite"));
    // Every path in the Japanese-named folder under the C locale: an import
    // of a Japanese-named file, the CSV, the statement and the totals, the
    // window's start with its daily copy.
    QVERIFY(QFile::copy(folder.filePath("one.csv"), folder.filePath(QStringLiteral("取込.csv"))));
    QCOMPARE(run({"import", "csv", folder.filePath(QStringLiteral("取込.csv"))}).first, 0);
    for (const auto &[kind, name] : {std::pair{"csv", QStringLiteral("出力.csv")}, std::pair{"statement", QStringLiteral("明細.pdf")},
                                     std::pair{"totals", QStringLiteral("月別.csv")}}) {
        const auto [status, said] = run({"export", kind, "--out", folder.filePath(name)});
        QVERIFY2(status == 0 && QFileInfo(folder.filePath(name)).size() > 0, qPrintable(said));
    }
    {
        QVERIFY(QFile::copy(QStringLiteral(PASSLOG_BINARY_DIR "/ETC_MST.sqlite"), folder.filePath(QStringLiteral("ETC_MST.sqlite"))));
        EmulatorProcess emulator({QStringLiteral("--state"), QStringLiteral("readable")});
        QVERIFY(emulator.started());
        QFile ini(folder.filePath(QStringLiteral("passlog.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[RS232C]\r\nComPort=1\r\nDevice1=%1\r\n").arg(emulator.link()).toUtf8());
        ini.close();
        QFile screen(QDir(dir.path()).filePath(QStringLiteral("screen.json"))); // (Qt's offscreen platform reads an ASCII name only)
        QVERIFY(screen.open(QIODevice::WriteOnly));
        screen.write(R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96}]})");
        screen.close();
        QProcess window;
        QProcessEnvironment shown = env;
        shown.insert(QStringLiteral("PASSLOG_QUIT_WHEN_SHOWN"), QStringLiteral("1"));
        shown.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + screen.fileName());
        window.setProcessEnvironment(shown);
        window.setProcessChannelMode(QProcess::MergedChannels);
        window.start(folder.filePath(QStringLiteral("passlog")), {});
        QVERIFY(window.waitForFinished(60000));
        QVERIFY2(window.exitStatus() == QProcess::NormalExit && window.exitCode() == 0, window.readAll().constData());
    }
    QVERIFY(QFile::remove(history));
    QCOMPARE(run({"import", "csv", folder.filePath("one.csv")}).first, 0);
    QCOMPARE(run({"backup", "--out", copy}).first, 0);
    QCOMPARE(run({"backup", "--out", copy}).first, 1); // not over a file without --force
    // A name that is not UTF-8 (Shift_JIS from a Windows disk) is refused,
    // never taken for a look-alike; a blank at the end of a name is its own.
    {
        const QStringList before = folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" backup --out \"$1$(printf '\\202\\240')/b.sqlite\""),
                                            folder.filePath(QStringLiteral("passlog")), folder.path() + QLatin1Char('/')});
        QVERIFY(p.waitForFinished(60000));
        const QString said = QString::fromUtf8(p.readAll());
        QVERIFY2(p.exitCode() == 2 && said.contains(QStringLiteral("読み取れない文字")), qPrintable(said));
        QCOMPARE(folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QCOMPARE(run({"backup", "--out", folder.filePath(QStringLiteral("blank.sqlite "))}).first, 0);
        QVERIFY(QFileInfo::exists(folder.filePath(QStringLiteral("blank.sqlite "))));
        QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("blank.sqlite"))));
    }
    QCOMPARE(run({"import", "csv", folder.filePath("three.csv")}).first, 0);
    QCOMPARE(rows(), 3);

    // Never over the program's own files, under any of their names.
    QFile settings(folder.filePath(QStringLiteral("passlog.ini")));
    if (!settings.exists()) {
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[PASSLOG]\r\nPortNo=1\r\n");
        settings.close();
    }
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray settingsBytes = settings.readAll();
    settings.close();
    for (const QString &own : {QStringLiteral("passlog.ini"), QStringLiteral("ETC_DAT.sqlite-closed"),
                               QStringLiteral("ETC_DAT.sqlite-journal"), QStringLiteral("ETC_DAT.sqlite-lock"),
                               QStringLiteral("./ETC_DAT.sqlite")}) {
        const auto refused = run({"backup", "--out", folder.filePath(own), "--force"});
        QVERIFY2(refused.first == 1, qPrintable(own + ": " + refused.second));
    }
    // --force replaces an earlier copy, not the program nor a document.
    for (const QString &other : {QStringLiteral("passlog"), QStringLiteral("one.csv")}) {
        const auto refused = run({"backup", "--out", folder.filePath(other), "--force"});
        QVERIFY2(refused.first == 1 && refused.second.contains(QStringLiteral("バックアップではないため")),
                 qPrintable(other + ": " + refused.second));
    }
    const QString second = folder.filePath(QStringLiteral("second.sqlite"));
    QCOMPARE(run({"backup", "--out", second}).first, 0);
    QCOMPARE(run({"backup", "--out", second, "--force"}).first, 0); // an earlier copy is replaced
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), settingsBytes);
    settings.close();
    QVERIFY(!QFileInfo::exists(history + "-journal"));
    QCOMPARE(rows(), 3);

#ifdef Q_OS_UNIX
    // A window of the same user on another folder (it holds the instance
    // lock) does not keep a restore from this one; an export before it
    // leaves nothing that stops a restore, also twice in a row.
    QLockFile window(QDir(runtime).filePath(
        QStringLiteral("PASSLOG-%1.lock").arg(QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name))));
    QVERIFY(window.tryLock(0));
    QCOMPARE(run({"export", "csv", "--out", folder.filePath("out.csv")}).first, 0);
    for (int i = 0; i < 2; ++i) {
        const auto [status, said] = run({"restore", copy});
        QVERIFY2(status == 0 && said.contains(QStringLiteral("利用履歴に戻しました")), qPrintable(said));
        QCOMPARE(rows(), 1);
        for (const char *log : {"-wal", "-shm", "-journal"})
            QVERIFY2(!QFileInfo::exists(history + log), log);
    }
    window.unlock();
#endif

    // A restore that runs: an import started after it waits, and then adds
    // its rows to the file put in place, which opens soundly after.
    {
        QString why;
        auto alone = history::HistoryUse::take(history, history::HistoryUse::Mode::Alone, 0, &why);
        QVERIFY2(alone, qPrintable(why));
        QProcess import;
        start(import, {"import", "csv", folder.filePath("later.csv")});
        QVERIFY(!import.waitForFinished(1500));
        QVERIFY(QFile::copy(copy, history + ".new"));
        QVERIFY(QFile::remove(history));
        QVERIFY(QFile::rename(history + ".new", history));
        alone.reset();
        QVERIFY(import.waitForFinished(60000));
        const QString said = QString::fromUtf8(import.readAll());
        QVERIFY2(import.exitCode() == 0 && said.contains(QStringLiteral("戻している最中")), qPrintable(said));
        QCOMPARE(rows(), 3);
    }
    // A user before the restore: waited for, then the restore goes on.
    {
        QString why;
        auto shared = history::HistoryUse::take(history, history::HistoryUse::Mode::Shared, 0, &why);
        QVERIFY2(shared, qPrintable(why));
        QProcess restore;
        start(restore, {"restore", copy});
        QVERIFY(!restore.waitForFinished(1500));
        shared.reset();
        QVERIFY(restore.waitForFinished(60000));
        const QString said = QString::fromUtf8(restore.readAll());
        QVERIFY2(restore.exitCode() == 0 && said.contains(QStringLiteral("待っています")), qPrintable(said));
        QCOMPARE(rows(), 1);
    }
    // The same paths under the other locales an office PC may run with.
    for (const QString &locale : {QStringLiteral("C.UTF-8"), QStringLiteral("ja_JP.UTF-8")}) {
        env.insert(QStringLiteral("LANG"), locale);
        env.insert(QStringLiteral("LC_ALL"), locale);
        const QString again = folder.filePath(QStringLiteral("バックアップ-%1.sqlite").arg(locale));
        QCOMPARE(run({"backup", "--out", again}).first, 0);
        const auto [status, said] = run({"restore", again});
        QVERIFY2(status == 0, qPrintable(said));
        QCOMPARE(run({"export", "csv", "--out", folder.filePath(QStringLiteral("出力-%1.csv").arg(locale))}).first, 0);
    }
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    // One that does not end within the wait: refused, the history as it was.
    {
        QString why;
        auto shared = history::HistoryUse::take(history, history::HistoryUse::Mode::Shared, 0, &why);
        QCOMPARE(run({"import", "csv", folder.filePath("later.csv")}).first, 0); // users share it
        QCOMPARE(rows(), 3);
        const auto [status, said] = run({"restore", copy});
        QCOMPARE(status, 1);
        QVERIFY2(said.contains(QStringLiteral("使用中のため、戻せませんでした")) && said.contains(QStringLiteral("変更していません")),
                 qPrintable(said));
        QCOMPARE(rows(), 3);
    }
}

// A window left open over midnight makes the new day's copy; a copy that
// cannot be made is told once, not passed over.
void TestStartup::dailyCopyFollowsTheDay()
{
    TestHarness h;
    app::runSettings().programFolder = h.programFolder() + QLatin1Char('/');
    history::openDatabase(kDatFile);
    const QString path = history::databasePath(kDatFile);
    const QDir backups(history::backupFolder(path));
    DailyBackupWatch watch;
    watch.day = QDate(2026, 12, 1);
    h.setNow(QDateTime(QDate(2026, 12, 2), QTime(0, 0, 5)));
    dailyBackupTick(watch, path);
    QTRY_VERIFY(QFileInfo::exists(backups.filePath(QStringLiteral("ETC_DAT-2026-12-02.sqlite"))));
    history::stopDailyBackup();
    QVERIFY(QDir(backups).removeRecursively());
    {
        QFile blocker(backups.path()); // a file where the folder belongs
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    h.setNow(QDateTime(QDate(2026, 12, 3), QTime(0, 0, 5)));
    dailyBackupTick(watch, path);
    QTRY_VERIFY(!history::dailyBackupFailure().isEmpty());
    for (int i = 0; i < 3; ++i)
        dailyBackupTick(watch, path);
    QCOMPARE(h.messages().size(), 1);
    QVERIFY2(h.messages()[0].text.contains(QStringLiteral("バックアップを作れませんでした")), qPrintable(h.messages()[0].text));
    history::stopDailyBackup();
    history::closeDatabase(kDatFile);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
