// The view-sort dialog (the option it opens with, what "決定" stores and how
// the grid follows) and the version dialog.

#include "app/RunSettings.h"
#include "DialogDriver.h"
#include "FlowFixture.h"
#include "history/HistoryBackup.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "ui/AboutDialog.h"
#include "ui/DeleteRowsDialog.h"
#include "ui/SortDialog.h"

using namespace ui;
using namespace start;

class tst_viewsortabout : public QObject {
    Q_OBJECT

    static void writeViewSort(Flow &f, const QString &value)
    {
        QVERIFY(app::writeProfileString("PASSLOG", "ViewSort", value, f.harness.settingsFile()));
    }
    static QString storedViewSort(Flow &f)
    {
        return app::readProfileString("PASSLOG", "ViewSort", f.harness.settingsFile());
    }

    // Opens 表示設定, reports which options it opened with, chooses one
    // (-1: none) and presses the button.
    static QString runSetSort(Flow &f, int choose, bool ok = true)
    {
        QString opened;
        DialogDriver<SortDialog> driver([&](SortDialog &d) {
            opened = QString::number(d.optPassDate[0]->isChecked()) + QString::number(d.optPassDate[1]->isChecked());
            if (choose >= 0)
                QTest::mouseClick(d.optPassDate[choose], Qt::LeftButton);
            QTest::mouseClick(ok ? d.btnOK : d.btnCancel, Qt::LeftButton);
        });
        f.w->mnuView->trigger();
        if (driver.opened != 1 || driver.stayedOpen)
            return QStringLiteral("dialog did not close");
        return opened;
    }

private slots:
    void optionsFollowTheSetting()
    {
        Flow f;
        f.seedHistory("0012", 3);
        writeViewSort(f, "OLD");
        FLOW_START(f);
        QCOMPARE(app::runSettings().viewSort, QStringLiteral("OLD"));
        QCOMPARE(runSetSort(f, -1, false), QStringLiteral("01"));
        QCOMPARE(runSetSort(f, 0, false), QStringLiteral("01")); // cancelled: nothing changes
        QCOMPARE(app::runSettings().viewSort, QStringLiteral("OLD"));
        QCOMPARE(storedViewSort(f), QStringLiteral("OLD"));

        // Nothing shown: "決定" only stores the setting.
        f.harness.clearMessages();
        QCOMPARE(runSetSort(f, 0), QStringLiteral("01"));
        QCOMPARE(app::runSettings().viewSort, QStringLiteral("NEW"));
        QCOMPARE(storedViewSort(f), QStringLiteral("NEW"));
        QCOMPARE(f.gridRows(), 0);
        QVERIFY(f.harness.messageTexts().isEmpty());
        QCOMPARE(runSetSort(f, -1), QStringLiteral("10"));

        // A hand-edited value: neither option, and "決定" without a choice keeps it.
        app::runSettings().viewSort = QStringLiteral("DATE");
        QCOMPARE(runSetSort(f, -1), QStringLiteral("00"));
        QCOMPARE(app::runSettings().viewSort, QStringLiteral("DATE"));
        QCOMPARE(storedViewSort(f), QStringLiteral("DATE"));
    }

    void gridFollowsTheNewOrder()
    {
        Flow f;
        f.seedHistory("0012", 3);
        f.seedHistory("0034", 2);
        FLOW_START(f);
        QVERIFY(Flow::click(f.w->btnDBRead));
        QCOMPARE(f.gridColumn("ご利用日"),
                 (QStringList{"2024/01/03", "2024/01/02", "2024/01/01", "2024/01/02", "2024/01/01"}));
        // The card number changed since the read: the grid follows the window's conditions now.
        f.selectListEntry("0034");
        runSetSort(f, 1);
        QCOMPARE(f.gridColumn("カードNO"), (QStringList{"0034", "0034"}));
        QCOMPARE(f.gridColumn("ご利用日"), (QStringList{"2024/01/01", "2024/01/02"}));

        // The duplicate view stays the duplicate view in the new order.
        f.selectListEntry("0000");
        QVERIFY(Flow::click(f.w->btnDBRead));
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        f.w->mnuRecordCheck->trigger();
        QCOMPARE(f.gridColumn("カードNO"), (QStringList{"0012", "0034", "0012", "0034"}));
        runSetSort(f, 0);
        QCOMPARE(f.gridColumn("ご利用日"), (QStringList{"2024/01/02", "2024/01/02", "2024/01/01", "2024/01/01"}));
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(データベース内の重複レコード表示)"));

        // A card read is re-sorted from the staging table.
        QVERIFY(Flow::click(f.w->btnDBRead));
        QVERIFY(f.readCard());
        const QStringList newest = f.gridColumn("ご利用日");
        QVERIFY(newest.size() > 2);
        runSetSort(f, 1);
        QStringList oldest = newest;
        std::reverse(oldest.begin(), oldest.end());
        QCOMPARE(f.gridColumn("ご利用日"), oldest);
        QCOMPARE(f.w->fraHFlexGrid->title(), QStringLiteral("利用履歴(ETCカード)"));
    }

    void missingSettingsFileWarnsAndStillSorts()
    {
        Flow f;
        f.seedHistory("0012", 2);
        FLOW_START(f);
        QVERIFY(Flow::click(f.w->btnDBRead));
        QVERIFY(QFile::remove(f.harness.settingsFile()));
        f.harness.clearMessages();
        runSetSort(f, 1);
        QCOMPARE(f.harness.messageTexts(), QStringList{app::settingsFileName() + " が見つかりません。"});
        QCOMPARE(app::runSettings().viewSort, QStringLiteral("OLD"));
        QCOMPARE(f.gridColumn("ご利用日"), (QStringList{"2024/01/01", "2024/01/02"}));
        QVERIFY(!QFile::exists(f.harness.settingsFile()));
    }

    void versionDialog()
    {
        QCOMPARE(programVersionText("3.0.0.8"), QStringLiteral("Ver 3.08"));
        QCOMPARE(programVersionText("3.10.0.12"), QStringLiteral("Ver 3.1012"));
        Flow f;
        FLOW_START(f);
        // A link only where the office has one.
        DialogDriver<AboutDialog> none([&](AboutDialog &d) {
            QVERIFY(!d.lblURL->isVisible() && !d.lblText->isVisible());
            QVERIFY2(d.lblFolders->text().contains(QStringLiteral("データフォルダー: ")) &&
                         d.lblFolders->text().contains(QDir::toNativeSeparators(history::backupFolder(history::databasePath(kDatFile)))),
                     qPrintable(d.lblFolders->text()));
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        f.w->mnuAbout->trigger();
        const QString kMasterDownloadUrl = QStringLiteral("https://master.example.com/etc/");
        app::writeProfileString(QStringLiteral("PASSLOG"), QStringLiteral("MasterURL"), kMasterDownloadUrl, f.harness.settingsFile());
        QList<QUrl> opened;
        setUrlOpener([&](const QUrl &url) { opened << url; });
        QStringList texts;
        DialogDriver<AboutDialog> driver([&](AboutDialog &d) {
            texts << d.windowTitle() << d.lblTitle->text() << d.lblVersionValue->text()
                  << d.lblMstVersionValue->text();
            QTest::mouseClick(d.lblURL, Qt::LeftButton);
            QVERIFY(d.cmdOK->isDefault());
            QTest::keyClick(&d, Qt::Key_Return);
            QVERIFY(!d.isVisible());
        });
        f.w->mnuAbout->trigger();
        setUrlOpener({});
        QCOMPARE(texts, (QStringList{"PASSLOGのバージョン情報", "利用履歴発行 PASSLOG", "Ver 3.08", "Ver 1.05"}));
        QCOMPARE(opened, QList<QUrl>{QUrl(kMasterDownloadUrl)});

        DialogDriver<AboutDialog> escape([&](AboutDialog &d) {
            QTest::keyClick(&d, Qt::Key_Escape);
            QVERIFY(!d.isVisible());
        });
        f.w->mnuAbout->trigger();
        QCOMPARE(escape.opened, 1);
        QVERIFY(!escape.stayedOpen);
    }
};

QTEST_MAIN(tst_viewsortabout)
#include "tst_viewsortabout.moc"
