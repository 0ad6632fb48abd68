// "passlog --demo": where the emulator and the sample card are found, a demo
// run in the program (port, title, card read, the settings file left alone),
// and the real program ending its emulator however it ends.

#include "app/RunSettings.h"
#include "history/HistoryUse.h"
#include "app/Settings.h"
#include "history/Database.h"
#include "history/Registration.h"
#include "reader/PortDevice.h"
#include "reader/ReaderSearch.h"
#include "start/Demo.h"
#include "start/Startup.h"
#include "ui/MainWindow.h"
#include "TestHarness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#ifdef Q_OS_UNIX
#include <csignal>
#endif

using namespace ui;
using namespace start;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The records of the sample card (lines that are neither comments nor blank).
int sampleCardRecords()
{
    int n = 0;
    for (const QByteArray &line : readAll(QStringLiteral(PASSLOG_SOURCE_DIR "/data/sample-card.txt")).split('\n'))
        if (!line.trimmed().isEmpty() && !line.trimmed().startsWith('#') && !line.startsWith("wrap"))
            ++n;
    return n;
}

// Processes whose command line names the given text (the emulator names its link).
int processesNaming(const QString &text)
{
    int n = 0;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (!pid.front().isDigit())
            continue;
        if (readAll(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains(text.toUtf8()))
            ++n;
    }
    return n;
}

} // namespace

class TestDemo : public QObject {
    Q_OBJECT
private slots:
    void emulatorAndCardAreFoundBesideTheProgramFirst();
    void demoRunReadsTheSampleCardWithoutTouchingTheSettings();
    void programEndsItsEmulatorHoweverItEnds();
};

void TestDemo::emulatorAndCardAreFoundBesideTheProgramFirst()
{
    QTemporaryDir program, installed;
    const QString emulatorName = QStringLiteral("passlog-reader-emulator");
    auto put = [](const QString &folder, const QString &name, bool executable) {
        QVERIFY(writeFile(QDir(folder).filePath(name), "#!/bin/sh\n"));
        if (executable)
            QFile::setPermissions(QDir(folder).filePath(name), QFile::permissions(QDir(folder).filePath(name)) |
                                                                   QFileDevice::ExeOwner);
    };
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", installed.path().toUtf8()); // nothing found on the way there

    // Nothing anywhere: the missing emulator is named.
    DemoFiles files = findDemoFiles({program.path(), installed.path()});
    QVERIFY(files.missing.contains(emulatorName));

    // The emulator in the program folder, the card in the installed data folder.
    put(program.path(), emulatorName, true);
    files = findDemoFiles({program.path(), installed.path()});
    QVERIFY(files.missing.contains(QStringLiteral("sample-card.txt")));
    put(installed.path(), QStringLiteral("sample-card.txt"), false);
    put(installed.path(), emulatorName, true);
    files = findDemoFiles({program.path(), installed.path()});
    QCOMPARE(files.emulator, QDir(program.path()).filePath(emulatorName));
    QCOMPARE(files.card, QDir(installed.path()).filePath(QStringLiteral("sample-card.txt")));
    QVERIFY(files.missing.isEmpty());

    // A card beside the program comes first; a file that cannot run is no emulator.
    put(program.path(), QStringLiteral("sample-card.txt"), false);
    QFile::setPermissions(QDir(program.path()).filePath(emulatorName), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    files = findDemoFiles({program.path(), installed.path()});
    QCOMPARE(files.card, QDir(program.path()).filePath(QStringLiteral("sample-card.txt")));
    QCOMPARE(files.emulator, QDir(installed.path()).filePath(emulatorName));

    // On the PATH when neither folder has it.
    QFile::remove(QDir(installed.path()).filePath(emulatorName));
    QTemporaryDir bin;
    put(bin.path(), emulatorName, true);
    qputenv("PATH", bin.path().toUtf8());
    QCOMPARE(findDemoFiles({program.path(), installed.path()}).emulator, QDir(bin.path()).filePath(emulatorName));
    qputenv("PATH", savedPath);

    // The build folder: the emulator in tools/reader-emulator, the card copied beside the program.
    files = findDemoFiles({QStringLiteral(PASSLOG_BINARY_DIR)});
    QCOMPARE(files.emulator, QStringLiteral(PASSLOG_BINARY_DIR "/tools/reader-emulator/reader-emulator"));
    QCOMPARE(files.card, QStringLiteral(PASSLOG_BINARY_DIR "/sample-card.txt"));
}

void TestDemo::demoRunReadsTheSampleCardWithoutTouchingTheSettings()
{
    TestHarness h;
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // A settings file of someone's own: a real port, an app::runSettings().programFolder from
    // elsewhere, a shared history on a server.
    const QByteArray settings = "[PASSLOG]\r\nAppPath=/somewhere/else/\r\nViewSort=OLD\r\n"
                                "[RS232C]\r\nComPort=1\r\nDevice1=/dev/ttyUSB7\r\n"
                                "[DATABASE]\r\nDriver=PSQL\r\nHost=127.0.0.1\r\nPort=1\r\nName=office\r\n";
    QVERIFY(writeFile(h.settingsFile(), settings));

    std::unique_ptr<DemoSession> demo(new DemoSession(QCoreApplication::instance()));
    QCOMPARE(demo->start(findDemoFiles({QStringLiteral(PASSLOG_BINARY_DIR)})), QString());
    QVERIFY(demo->running());
    const QString link = demo->readerLink();
    QCOMPARE(QFileInfo(link).absolutePath(), runtime.path());
    QVERIFY(QFileInfo(link).isSymLink());

    std::unique_ptr<MainWindow> loaded(loadMainWindow()); // runs the start sequence
    MainWindow &window = *loaded;
    markDemoWindow(&window);
    QCOMPARE(window.windowTitle(), QStringLiteral("PASSLOG (デモ)"));
    QCOMPARE(h.messageTexts(), QStringList()); // the port was there
    // The configured port means the emulator; the others keep their meaning.
    QCOMPARE(seams::portDevice(1), link);
    QCOMPARE(seams::portDevice(2), QStringLiteral("/nonexistent/passlog-test-port2"));

    QVERIFY(QTest::qWaitFor([&] { return window.btnCardRead->isEnabled(); }, 5000));
    window.btnCardRead->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window.cardReadRunning(), 10000);
    const int records = sampleCardRecords();
    QVERIFY(records > 0);
    QCOMPARE(window.lblCountValue->text(), QStringLiteral("%1件").arg(records));
    // What is registered goes to the demo's own history, never to the user's
    // file or the shared history.
    QVERIFY(!history::usesServer());
    const QString demoHistory = history::databasePath(kDatFile);
    QVERIFY2(demoHistory.startsWith(runtime.path()), qPrintable(demoHistory));
    QCOMPARE(history::registerStaged(QStringLiteral("0001")), qint64(records));
    // Nor does it hold the user's history: a restore of it goes ahead.
    QString held;
    QVERIFY2(history::HistoryUse::take(QDir(h.programFolder()).filePath(QStringLiteral("ETC_DAT.sqlite")),
                                       history::HistoryUse::Mode::Alone, 0, &held, {}),
             qPrintable(held));

    // The port dialog's search finds the emulator on the configured port.
    window.TimerPolling->stop();
    std::optional<reader::ReaderSearchResult> found;
    reader::searchReader(1, [&found](const reader::ReaderSearchResult &r) { found = r; });
    QTRY_VERIFY_WITH_TIMEOUT(found.has_value(), 10000);
    QCOMPARE(found->found, QList<int>{1});

    // What the dialogs save stays in memory.
    QVERIFY(app::saveSetting(kSectionMain, QStringLiteral("ViewSort"), QStringLiteral("NEW")));
    QVERIFY(app::saveSetting(kSectionPort, QStringLiteral("Device1"), link));
    QCOMPARE(readAll(h.settingsFile()), settings);

    // The end sequence ends the emulator, its link and the port's override.
    QVERIFY(endsProgram([&] { endSequence(&window); }));
    QVERIFY(!demo->running());
    QVERIFY(!QFileInfo::exists(demoHistory));
    QVERIFY(!QFileInfo::exists(h.programFolder() + QStringLiteral("/ETC_DAT.sqlite")));
    QVERIFY(!history::databasePath(kDatFile).startsWith(runtime.path()));
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(processesNaming(link), 0);
    QCOMPARE(seams::portDevice(1), QStringLiteral("/nonexistent/passlog-test-port1"));
    QCOMPARE(readAll(h.settingsFile()), settings);
    qunsetenv("XDG_RUNTIME_DIR");
}

// The real program as a portable copy, with the emulator and the card beside
// it: reading the card and ending by itself, ended by a signal, and killed.
void TestDemo::programEndsItsEmulatorHoweverItEnds()
{
#ifdef Q_OS_LINUX
    QTemporaryDir dir;
    const QDir folder(dir.path());
    for (const auto &[from, to] : {std::pair{QStringLiteral(PASSLOG_PROGRAM), QStringLiteral("passlog")},
                                   std::pair{QStringLiteral(PASSLOG_READER_EMULATOR), QStringLiteral("reader-emulator")},
                                   std::pair{QStringLiteral(PASSLOG_BINARY_DIR "/ETC_MST.sqlite"), QStringLiteral("ETC_MST.sqlite")},
                                   std::pair{QStringLiteral(PASSLOG_SOURCE_DIR "/data/sample-card.txt"), QStringLiteral("sample-card.txt")}})
        QVERIFY2(QFile::copy(from, folder.filePath(to)), qPrintable(from));
    const QString runtime = folder.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkdir(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QString ini = folder.filePath(QStringLiteral("passlog.ini"));
    const QByteArray settings = "[PASSLOG]\r\nViewSort=NEW\r\n[RS232C]\r\nComPort=1\r\nDevice1=/dev/ttyUSB7\r\n";
    QVERIFY(writeFile(ini, settings));
    QVERIFY(writeFile(folder.filePath(QStringLiteral("screen.json")),
                      R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96}]})"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + folder.filePath(QStringLiteral("screen.json")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("HOME"), dir.path());
    const QString linkPrefix = QDir(runtime).filePath(QStringLiteral("passlog-demo-reader-"));
    auto emulatorsLeft = [&] { return processesNaming(linkPrefix) + int(QDir(runtime).entryList({QStringLiteral("passlog-demo-*")}, QDir::System | QDir::Files).size()); };

    // Asked to read and quit: the card's records are read, into the demo's
    // own history, which goes with it; the folder's history is not made.
    {
        QProcess passlog;
        QProcessEnvironment readEnv = env;
        readEnv.insert(QStringLiteral("PASSLOG_DEMO_READ_AND_QUIT"), QStringLiteral("1"));
        passlog.setProcessEnvironment(readEnv);
        passlog.setProcessChannelMode(QProcess::MergedChannels);
        passlog.start(folder.filePath(QStringLiteral("passlog")), {QStringLiteral("--demo")});
        QVERIFY(passlog.waitForFinished(40000));
        QCOMPARE(passlog.exitCode(), 0);
        QCOMPARE(emulatorsLeft(), 0);
        QCOMPARE(readAll(ini), settings);
        const QString output = QString::fromUtf8(passlog.readAll());
        QVERIFY2(output.contains(QStringLiteral("カード読込: %1件").arg(sampleCardRecords())), qPrintable(output));
        QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("ETC_DAT.sqlite"))));
        QCOMPARE(QDir(runtime).entryList({QStringLiteral("passlog-demo-history-*")}, QDir::Dirs).size(), 0);
    }

    // Ended by a signal (its end sequence), and killed (the kernel tells the emulator).
    for (const int signal : {SIGTERM, SIGKILL}) {
        QProcess passlog;
        passlog.setProcessEnvironment(env);
        passlog.setProcessChannelMode(QProcess::MergedChannels);
        passlog.start(folder.filePath(QStringLiteral("passlog")), {QStringLiteral("--demo")});
        QVERIFY2(QTest::qWaitFor([&] { return emulatorsLeft() == 2; }, 20000), passlog.readAll().constData());
        QTest::qWait(500);
        QVERIFY(::kill(pid_t(passlog.processId()), signal) == 0);
        QVERIFY(passlog.waitForFinished(5000));
        if (signal == SIGTERM)
            QCOMPARE(passlog.exitCode(), 0);
        QVERIFY2(QTest::qWaitFor([&] { return emulatorsLeft() == 0; }, 5000), qPrintable(QString::number(signal)));
        QCOMPARE(readAll(ini), settings);
    }
    // The history folder the killed demo left is removed by the next demo.
    const auto demoHistories = [&] {
        return QDir(runtime).entryList({QStringLiteral("passlog-demo-history-*")}, QDir::Dirs).size();
    };
    QCOMPARE(demoHistories(), 1);
    {
        QProcess passlog;
        QProcessEnvironment readEnv = env;
        readEnv.insert(QStringLiteral("PASSLOG_DEMO_READ_AND_QUIT"), QStringLiteral("1"));
        passlog.setProcessEnvironment(readEnv);
        passlog.start(folder.filePath(QStringLiteral("passlog")), {QStringLiteral("--demo")});
        QVERIFY(passlog.waitForFinished(40000));
        QCOMPARE(passlog.exitCode(), 0);
        QCOMPARE(demoHistories(), 0);
    }
#else
    QSKIP("the demo's pseudo-terminal and the end of its emulator are Linux ones");
#endif
}

QTEST_MAIN(TestDemo)
#include "tst_demo.moc"
