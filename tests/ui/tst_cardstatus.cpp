// The main window's card state follows the reader: "未接続" until the
// emulator answers, the card states while it does, and "未接続" again about
// three seconds after it goes silent.

#include "../reader/ReaderTest.h"
#include "TestHarness.h"
#include "start/Startup.h"
#include "ui/MainWindow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace ui;
using namespace start;

class tst_cardstatus : public QObject {
    Q_OBJECT

private slots:
    void cardStateFollowsTheReader()
    {
        TestHarness harness;
        EmulatorProcess emulator({QStringLiteral("--fault"), QStringLiteral("silence")});
        QVERIFY(emulator.started());
        // Port 1 is the emulator through the settings file's device key.
        seams::setPortDeviceHandler({});
        QFile ini(harness.settingsFile());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[PASSLOG]\r\nViewSort=NEW\r\n[RS232C]\r\nComPort=1\r\nDevice1=%1\r\n")
                      .arg(emulator.link())
                      .toUtf8());
        ini.close();

        auto *window = loadMainWindow();
        QVERIFY(harness.messages().isEmpty()); // the port was found
        QVERIFY(window->TimerPolling->isActive());
        QCOMPARE(window->TimerPolling->interval(), 1000);
        QCOMPARE(window->lblCardValue->text(), QStringLiteral("未接続"));
        QVERIFY(!window->btnCardRead->isEnabled());

        QVERIFY(emulator.command(QStringLiteral("fault none")));
        QTRY_COMPARE_WITH_TIMEOUT(window->lblCardValue->text(), QStringLiteral("カードをセットして下さい"), 3000);
        QVERIFY(!window->btnCardRead->isEnabled());

        QVERIFY(emulator.command(QStringLiteral("state readable")));
        QTRY_COMPARE_WITH_TIMEOUT(window->lblCardValue->text(), QStringLiteral("カード正常"), 3000);
        QVERIFY(window->btnCardRead->isEnabled());
        QCOMPARE(window->btnCardRead->text(), QStringLiteral("カード読込"));

        QVERIFY(emulator.command(QStringLiteral("fault silence")));
        QElapsedTimer silent;
        silent.start();
        QTRY_COMPARE_WITH_TIMEOUT(window->lblCardValue->text(), QStringLiteral("未接続"), 6000);
        QVERIFY2(silent.elapsed() > 1800 && silent.elapsed() < 4500, qPrintable(QString::number(silent.elapsed())));
        QVERIFY(!window->btnCardRead->isEnabled());

        window->TimerPolling->stop();
        delete window;
        releaseSingleInstance();
    }

    void missingPortIsReportedAtStart()
    {
        TestHarness harness;
        QFile ini(harness.settingsFile());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[RS232C]\r\nComPort=1\r\nDevice1=/nonexistent/ttyPASSLOG\r\n");
        ini.close();
        auto *window = loadMainWindow();
        QCOMPARE(harness.messageTexts(),
                 QStringList{QStringLiteral("指定されたCOMポートが存在しないか既に使用中ため機器に接続できません。")});
        QCOMPARE(harness.messages()[0].icon, seams::MsgIcon::Warning);
        QVERIFY(window->TimerPolling->isActive());
        QCOMPARE(window->lblCardValue->text(), QStringLiteral("未接続"));
        window->TimerPolling->stop();
        delete window;
        releaseSingleInstance();
    }
};

QTEST_MAIN(tst_cardstatus)
#include "tst_cardstatus.moc"
