// The port settings dialog against reader emulators on pseudo-terminals:
// what opening and closing do to the window and the polling, the search with
// two, one and no readers, a reader on an adapter that no key names, and a
// port held by another program.

#include "app/RunSettings.h"
#include "DialogDriver.h"
#include "FlowFixture.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "reader/CardReader.h"
#include "ui/PortSettingsDialog.h"

#include <QMap>
#include <QSerialPort>

using namespace ui;
using namespace start;

namespace {
// Port numbers mapped to devices; every other number names a missing device.
void mapPorts(const QMap<int, QString> &links)
{
    seams::setPortDeviceHandler([links](int port) {
        return links.value(port, QStringLiteral("/nonexistent/ttyPASSLOG%1").arg(port));
    });
}
const QString kTwoFound = QStringLiteral("複数の機器が見つかりました。利用しない機器の電源を切るかパソコンから取り外してください｡ ");
const QString kNoneFound =
    QStringLiteral("機器が見つかりませんでした。パソコンとの接続または機器の電源が入っているか確認してください。");
} // namespace

class tst_portdialog : public QObject {
    Q_OBJECT

    static QString ini(Flow &f, const QString &key)
    {
        return app::readProfileString("RS232C", key, f.harness.settingsFile());
    }

private slots:
    void cleanup()
    {
        seams::setPortDeviceHandler({});
        seams::setSerialDeviceLister({});
    }

    void openingStopsPollingAndClosingRestartsIt()
    {
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QVERIFY(f.gridRows() > 0);
        QStringList items;
        DialogDriver<PortSettingsDialog> driver([&](PortSettingsDialog &d) {
            QVERIFY(!f.w->TimerPolling->isActive());
            QCOMPARE(f.w->lblCardValue->text(), QStringLiteral("未接続"));
            QVERIFY(!f.w->btnCardRead->isEnabled());
            QVERIFY(!reader::serialPort()->isOpen());
            QCOMPARE(f.gridRows(), 0);
            QCOMPARE(column("SELECT count(*) FROM ETC_TEMP;").value(0), QStringLiteral("0"));
            QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴"));
            QCOMPARE(f.commandStates(), QStringLiteral("0000000000"));
            QCOMPARE(f.w->view.viewType, qint16(0));
            for (int i = 0; i < d.cboPort->count(); ++i)
                items << d.cboPort->itemText(i);
            QCOMPARE(d.cboPort->currentText(), QStringLiteral("Com1"));
#ifndef Q_OS_WIN
            QCOMPARE(d.lblDevice->text(), QStringLiteral("デバイス：") + f.emulator.link());
#endif
            QTest::mouseClick(d.btnCancel, Qt::LeftButton);
        });
        f.w->mnuPort->trigger();
        QCOMPARE(items.size(), 16);
        QCOMPARE(items.first(), QStringLiteral("Com1"));
        QCOMPARE(items.last(), QStringLiteral("Com16"));
        QVERIFY(!driver.stayedOpen);
        QVERIFY(f.w->TimerPolling->isActive());
        QCOMPARE(f.w->TimerPolling->interval(), 1000);
        QTRY_COMPARE(f.w->lblCardValue->text(), QStringLiteral("カード正常"));
        QCOMPARE(app::runSettings().comPort, QStringLiteral("1"));
    }

    void searchWithTwoReadersProposesTheLowest()
    {
        Flow f;
        EmulatorProcess com3(readerWith());
        EmulatorProcess com5(readerWith(kSampleCard, {"--relay"}));
        QVERIFY(com3.started() && com5.started());
        FLOW_START(f);
        mapPorts({{3, com3.link()}, {5, com5.link()}});
        f.harness.clearMessages();
        DialogDriver<PortSettingsDialog> driver([&](PortSettingsDialog &d) {
            QTest::mouseClick(d.btnETCSearch, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.searching(), 20000);
            QCOMPARE(f.harness.messageTexts(), QStringList{kTwoFound});
            QCOMPARE(d.cboPort->currentText(), QStringLiteral("Com3"));
            QVERIFY(d.cboPort->hasFocus());
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
        });
        f.w->mnuPort->trigger();
        QVERIFY(!driver.stayedOpen);
        QCOMPARE(app::runSettings().comPort, QStringLiteral("3"));
        QCOMPARE(ini(f, "ComPort"), QStringLiteral("3"));
        QCOMPARE(ini(f, "Device3"), com3.link());
        QTRY_COMPARE(f.w->lblCardValue->text(), QStringLiteral("カード正常")); // polled once at once
        QVERIFY(f.w->TimerPolling->isActive());
    }

    void searchWithOneOrNoReader()
    {
        Flow f;
        EmulatorProcess com7(readerWith());
        QVERIFY(com7.started());
        FLOW_START(f);
        mapPorts({{7, com7.link()}});
        f.harness.clearMessages();
        DialogDriver<PortSettingsDialog> one([&](PortSettingsDialog &d) {
            QTest::mouseClick(d.btnETCSearch, Qt::LeftButton);
            d.close(); // the window manager's close while the search talks: refused
            QVERIFY(d.isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(!d.searching(), 20000);
            QCOMPARE(d.cboPort->currentText(), QStringLiteral("Com7"));
            QTest::mouseClick(d.btnCancel, Qt::LeftButton); // nothing saved
        });
        f.w->mnuPort->trigger();
        // What was found and where, said.
        QCOMPARE(f.harness.messageTexts(), QStringList{"Com7 に機器が見つかりました。\r\nデバイス: " + com7.link() +
                                                       "\r\n「決定」で、このポートを使います。"});
        f.harness.clearMessages();
        QCOMPARE(app::runSettings().comPort, QStringLiteral("1"));
        QCOMPARE(ini(f, "ComPort"), QStringLiteral("1"));

        mapPorts({});
        DialogDriver<PortSettingsDialog> none([&](PortSettingsDialog &d) {
            d.cboPort->setCurrentIndex(9);
            QTest::mouseClick(d.btnETCSearch, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.searching(), 20000);
            QCOMPARE(d.cboPort->currentText(), QStringLiteral("Com1")); // the current setting
        });
        f.w->mnuPort->trigger();
        QCOMPARE(f.harness.messageTexts(), QStringList{kNoneFound});
        QVERIFY(f.w->TimerPolling->isActive());
    }

    void portHeldElsewhereIsRefused()
    {
        Flow f;
        EmulatorProcess com4(readerWith());
        QVERIFY(com4.started());
        FLOW_START(f);
        mapPorts({{1, f.emulator.link()}, {4, com4.link()}});
        QSerialPort other(com4.link());
        QVERIFY(other.open(QIODevice::ReadWrite));
        f.harness.clearMessages();
        DialogDriver<PortSettingsDialog> driver([&](PortSettingsDialog &d) {
            d.cboPort->setCurrentIndex(3);
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
            // The device whole, and the next step.
            QCOMPARE(f.harness.messageTexts(),
                     QStringList{"選択されたCom4は存在しないか既に使用中のため選択できません。\r\nデバイス: " + com4.link() +
                                 "\r\n他のプログラムがこのポートを使用中です。そのプログラムを終了してから、もう一度選んでください。"});
            QCOMPARE(d.cboPort->currentText(), QStringLiteral("Com1"));
        });
        f.w->mnuPort->trigger();
        QVERIFY(driver.stayedOpen);
        QCOMPARE(app::runSettings().comPort, QStringLiteral("1"));
        QCOMPARE(ini(f, "ComPort"), QStringLiteral("1"));
        QCOMPARE(ini(f, "Device4"), QStringLiteral("ERROR"));
    }

    void missingSettingsFileChangesNothing()
    {
        Flow f;
        EmulatorProcess com2(readerWith());
        QVERIFY(com2.started());
        FLOW_START(f);
        mapPorts({{1, f.emulator.link()}, {2, com2.link()}});
        QVERIFY(QFile::remove(f.harness.settingsFile()));
        f.harness.clearMessages();
        DialogDriver<PortSettingsDialog> driver([&](PortSettingsDialog &d) {
            d.cboPort->setCurrentIndex(1);
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
        });
        f.w->mnuPort->trigger();
        QVERIFY(!driver.stayedOpen);
        QCOMPARE(f.harness.messageTexts(), QStringList{app::settingsFileName() + " が見つかりません。"});
        QCOMPARE(app::runSettings().comPort, QStringLiteral("1"));
        QVERIFY(!QFile::exists(f.harness.settingsFile()));
        QVERIFY(f.w->TimerPolling->isActive());
    }

#ifndef Q_OS_WIN
    void readerOnAnAdapterIsFoundAndKept()
    {
        Flow f;
        EmulatorProcess adapter(readerWith());
        QVERIFY(adapter.started());
        QVERIFY(app::writeProfileString("RS232C", "Device1", "/nonexistent/ttyPASSLOG1", f.harness.settingsFile()));
        const QString link = adapter.link();
        seams::setSerialDeviceLister([link] { return QStringList{link}; });
        FLOW_START(f);
        QCOMPARE(f.w->lblCardValue->text(), QStringLiteral("未接続"));
        f.harness.clearMessages();
        DialogDriver<PortSettingsDialog> driver([&](PortSettingsDialog &d) {
            QTest::mouseClick(d.btnETCSearch, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!d.searching(), 20000);
            QCOMPARE(d.cboPort->currentText(), QStringLiteral("Com2"));
            QCOMPARE(d.lblDevice->text(), QStringLiteral("デバイス：") + link);
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
        });
        f.w->mnuPort->trigger();
        QCOMPARE(f.harness.messageTexts(), QStringList{"Com2 に機器が見つかりました。\r\nデバイス: " + link +
                                                       "\r\n「決定」で、このポートを使います。"});
        QCOMPARE(ini(f, "ComPort"), QStringLiteral("2"));
        QCOMPARE(ini(f, "Device2"), link);
        QTRY_COMPARE(f.w->lblCardValue->text(), QStringLiteral("カード正常"));
        // Another adapter plugged in first: port 2 keeps its reader.
        seams::setSerialDeviceLister([link] { return QStringList{"/dev/ttyACM0", link}; });
        QCOMPARE(seams::portDevice(2), link);
        QVERIFY(f.readCard());
        QVERIFY(f.gridRows() > 0);
    }
#endif
};

QTEST_MAIN(tst_portdialog)
#include "tst_portdialog.moc"
