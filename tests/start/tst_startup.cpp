// The start sequence: its refusals (second instance, font size, screen size),
// the settings file it creates, the initial state of the window, shutdown.

#include "app/basGlobal.h"
#include "start/basMain.h"
#include "ui/frmMain.h"
#include "TestHarness.h"

#include <QAction>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include "ui/FrameControl.h"
#include <QLabel>
#include <QLockFile>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>
#include <QtTest>
#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

// The start-up warning when the reader's port is missing or held elsewhere.
static const QString kNoReaderPort =
    QStringLiteral("指定されたCOMポートが存在しないか既に使用中ため機器に接続できません。");

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { releaseSingleInstance(); }
    void secondInstanceIsRefusedWithoutTouchingSettings();
    void lockIsNamedAfterTheRealUser();
    void screenChecks_data();
    void screenChecks();
    void startUpPutsTheWindowInItsInitialState();
    void shutdownStopsTheTimerAndEnds();
    void filesTheStartCreatesAreReadableByTheirOwnerOnly();
};

void TestStartup::secondInstanceIsRefusedWithoutTouchingSettings()
{
    TestHarness h;
    QLockFile other(h.lockPath()); // the instance that is already running
    QVERIFY(other.tryLock(0));
    frmMain window;
    QVERIFY(endsProgram([] { basMain_ETCStart(); }));
    QCOMPARE(h.messageTexts(), QStringList{QStringLiteral("PASSLOGを複数起動することは出来ません。")});
    QCOMPARE(h.messages().first().icon, seams::MsgIcon::Warning);
    QVERIFY(!QFile::exists(h.settingsFile()));
    QVERIFY(!window.TimerPolling->isActive());
    other.unlock();

    // Once the first instance is gone, the start goes on.
    QVERIFY(!endsProgram([] { basMain_ETCStart(); }));
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

void TestStartup::screenChecks_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("dpi");
    QTest::addColumn<QString>("message"); // empty: the start goes on
    const QString font = QStringLiteral("フォントサイズを小さいフォントに変更してください。現在ご利用のフォントには対応しておりません｡");
    QTest::newRow("1024x768 at 96 dpi") << 1024 << 768 << 96.0 << QString();
    QTest::newRow("1024x767") << 1024 << 767 << 96.0
                              << QStringLiteral("画面の領域を 1024 x 768 ピクセル以上に変更してください。1024 x767 ピクセルでは、起動することが出来ません。");
    QTest::newRow("800x600") << 800 << 600 << 96.0
                             << QStringLiteral("画面の領域を 1024 x 768 ピクセル以上に変更してください。800 x600 ピクセルでは、起動することが出来ません。");
    QTest::newRow("120 dpi on a large screen") << 2560 << 1600 << 120.0 << font;
}

void TestStartup::screenChecks()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, dpi);
    QFETCH(QString, message);
    TestHarness h;
    seams::setScreenMetrics(seams::ScreenMetrics{width, height, dpi, dpi});
    frmMain window;
    const bool ended = endsProgram([] { basMain_ETCStart(); });
    QCOMPARE(ended, !message.isEmpty());
    if (ended) {
        QCOMPARE(h.messageTexts(), QStringList{message});
        QVERIFY(!QFile::exists(h.settingsFile())); // refused before the settings are touched
    } else {
        QCOMPARE(h.messageTexts(), QStringList{kNoReaderPort}); // the test machine has no reader
    }
}

void TestStartup::startUpPutsTheWindowInItsInitialState()
{
    TestHarness h;
    h.setNow(QDateTime(QDate(2026, 12, 7), QTime(15, 30, 12)));
    frmMain window;
    intRelayMode = 2;
    intNoReplyCount = 5;
    intSendToggle = 0;
    basMain_ETCStart();

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
    QCOMPARE(intRelayMode, 0);
    QCOMPARE(intNoReplyCount, 0);
    QCOMPARE(intSendToggle, 128);
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
    frmMain window;
    basMain_ETCStart();
    QVERIFY(window.TimerPolling->isActive());
    QVERIFY(endsProgram([] { basMain_ETCEnd(); }));
    QVERIFY(!window.TimerPolling->isActive());
    // The lock is released: the next start is not refused.
    QVERIFY(!endsProgram([] { basMain_ETCStart(); }));
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
        frmMain window;
        basMain_ETCStart();
        const QDir folder(h.programFolder());
        for (const QString &path : {h.settingsFile(), folder.filePath(history), h.lockPath()})
            QVERIFY2(QFileInfo(path).permissions() == ownerOnly, qPrintable(path));
        QVERIFY(endsProgram([] { basMain_ETCEnd(); }));
        releaseSingleInstance();

        // Files that exist keep the permissions their owner gave them.
        for (const QString &path : {h.settingsFile(), folder.filePath(history)})
            QVERIFY(QFile::setPermissions(path, shared));
        basMain_ETCStart();
        for (const QString &path : {h.settingsFile(), folder.filePath(history)})
            QVERIFY2(QFileInfo(path).permissions() == shared, qPrintable(path));
    }
#else
    QSKIP("owner-only file modes are POSIX");
#endif
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
