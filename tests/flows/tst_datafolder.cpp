// Where the settings and the history live: the program folder when the
// program can write it (a portable copy, as always), the user's data folder
// when it cannot (installed for all users); the shipped masters are found in
// either layout.
//
// The read-only case needs a user who really cannot write the folder: run as
// root, the test runs that case again as the unprivileged user "nobody".

#include "app/RunSettings.h"
#include "FlowFixture.h"
#include "app/DataFolder.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace ui;
using namespace start;

namespace {
const QString kRegisterDone = QStringLiteral("DB登録が完了しました。\r\n14件を登録しました。");
const char *kAsUnprivileged = "PASSLOG_TEST_UNPRIVILEGED";

bool exists(const QString &folder, const QString &name) { return QFileInfo::exists(QDir(folder).filePath(name)); }

// The user's data folder in a folder of its own, away from the program folder.
struct UserFolders {
    QTemporaryDir home;
    UserFolders()
    {
        qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    }
    QString dataFolder() const { return app::userDataFolder(); }
};
} // namespace

class tst_datafolder : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { releaseSingleInstance(); }

    void writableProgramFolderKeepsEverything()
    {
        UserFolders user;
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(f.registerAs(QStringLiteral("1234")));
        QCOMPARE(f.harness.messageTexts().last(), kRegisterDone);
        const QString program = f.harness.programFolder();
        QCOMPARE(app::runSettings().programFolder, QDir::toNativeSeparators(program) + QDir::separator());
        QVERIFY(exists(program, QStringLiteral("passlog.ini")));
        QVERIFY(exists(program, QStringLiteral("ETC_DAT.sqlite")));
        QCOMPARE(history::database(DbConnection::Master).databaseName(), program + QStringLiteral("/ETC_MST.sqlite"));
        QVERIFY(!QFileInfo::exists(user.dataFolder())); // not even created
        QCOMPARE(QDir(program).entryList({QStringLiteral(".passlog-write-test-*")}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    void readOnlyProgramFolderUsesTheUsersFolder()
    {
#ifdef Q_OS_UNIX
        if (::geteuid() == 0 && qEnvironmentVariableIsEmpty(kAsUnprivileged)) {
            // Root writes any folder: this case runs again as "nobody".
            const QStringList asNobody{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                       QStringLiteral("--clear-groups")};
            const int reachable = QProcess::execute(
                QStringLiteral("setpriv"),
                asNobody + QStringList{QStringLiteral("test"), QStringLiteral("-x"), QCoreApplication::applicationFilePath(),
                                       QStringLiteral("-a"), QStringLiteral("-x"), QStringLiteral(PASSLOG_READER_EMULATOR),
                                       QStringLiteral("-a"), QStringLiteral("-r"), kSampleCard});
            if (reachable < 0)
                QSKIP("setpriv is not available to run the case as an unprivileged user");
            if (reachable != 0)
                QSKIP("the build folder is not open to the unprivileged user \"nobody\"");
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QString::fromLatin1(kAsUnprivileged), QStringLiteral("1"));
            env.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QStringLiteral("setpriv"),
                        asNobody + QStringList{QCoreApplication::applicationFilePath(),
                                               QStringLiteral("readOnlyProgramFolderUsesTheUsersFolder")});
            QVERIFY(child.waitForStarted(10000));
            QVERIFY(child.waitForFinished(120000));
            const QByteArray output = child.readAll();
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
            QVERIFY2(output.contains("PASS   : tst_datafolder::readOnlyProgramFolderUsesTheUsersFolder()"),
                     output.constData());
            return;
        }
        UserFolders user;
        QTemporaryDir lockFolder;
        Flow f;
        const QString program = f.harness.programFolder();
        QFile::remove(f.harness.settingsFile()); // the settings are the user's
        seams::setInstanceLockPath(lockFolder.filePath(QStringLiteral("lock")));
        const QString reader = f.emulator.link();
        seams::setPortDeviceHandler([reader](int port) {
            return port == 1 ? reader : QStringLiteral("/nonexistent/port%1").arg(port);
        });
        struct Restore { // the folder is writable again for its removal, whatever happens
            QString folder;
            ~Restore() { QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner); }
        } restore{program};
        QVERIFY(QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                   QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY2(!app::folderIsWritable(program), "the program folder is still writable");

        FLOW_START(f);
        QVERIFY(f.readCard());
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
        QVERIFY(f.registerAs(QStringLiteral("1234")));
        QCOMPARE(f.harness.messageTexts().last(), kRegisterDone);
        QCOMPARE(Flow::historyRows(QStringLiteral("1234")), 14);

        const QString data = user.dataFolder();
        QCOMPARE(app::runSettings().programFolder, QDir::toNativeSeparators(data) + QDir::separator());
        QVERIFY(exists(data, QStringLiteral("passlog.ini")));
        QVERIFY(exists(data, QStringLiteral("ETC_DAT.sqlite")));
        QCOMPARE(history::database(DbConnection::History).databaseName(), data + QStringLiteral("/ETC_DAT.sqlite"));
        // The shipped masters are read where they are.
        QCOMPARE(history::database(DbConnection::Master).databaseName(), program + QStringLiteral("/ETC_MST.sqlite"));
        QVERIFY(!exists(program, QStringLiteral("passlog.ini")));
        QVERIFY(!exists(program, QStringLiteral("ETC_DAT.sqlite")));
        // The settings file names the folder in use; saves go there.
        QVERIFY(app::readProfileString(QStringLiteral("PASSLOG"), QStringLiteral("AppPath"), app::settingsFileName()) == app::runSettings().programFolder);
        QVERIFY(app::saveSetting(QStringLiteral("PASSLOG"), QStringLiteral("ViewSort"), QStringLiteral("OLD")));
        // The user's folder holds the user's trips: owner only.
        QCOMPARE(QFileInfo(data).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
#else
        QSKIP("file modes and users are POSIX here");
#endif
    }

    // The installed layout: <prefix>/bin/passlog and <prefix>/share/passlog/ETC_MST.sqlite.
    void installedMastersAreFoundBesideTheProgramFolder()
    {
        TestHarness h;
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/passlog")));
        const QString shipped = prefix.filePath(QStringLiteral("share/passlog/ETC_MST.sqlite"));
        QVERIFY(QFile::copy(QStringLiteral(PASSLOG_BINARY_DIR "/ETC_MST.sqlite"), shipped));
        seams::setProgramFile(prefix.filePath(QStringLiteral("bin/passlog")));
        app::runSettings().programFolder = h.programFolder() + QLatin1Char('/'); // a data folder without masters
        QFile::remove(h.programFolder() + QStringLiteral("/ETC_MST.sqlite"));
        QCOMPARE(history::databasePath(kMstFile), shipped);
        // A master in the data folder comes first (newer masters without administrator rights).
        QVERIFY(QFile::copy(shipped, h.programFolder() + QStringLiteral("/ETC_MST.sqlite")));
        QCOMPARE(history::databasePath(kMstFile), h.programFolder() + QStringLiteral("/ETC_MST.sqlite"));
        // The history never moves to the shipped folder.
        QCOMPARE(history::databasePath(kDatFile), h.programFolder() + QStringLiteral("/ETC_DAT.sqlite"));
        app::runSettings().programFolder.clear();
    }
};

QTEST_MAIN(tst_datafolder)
#include "tst_datafolder.moc"
