// The main window: its controls, menus and layout, the selection modes, the
// date/time check, the two locks and the card-number rule.

#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "TestHarness.h"

#include "ui/LineControl.h"
#include <QStatusBar>
#include <QTableView>
#include <QMap>
#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include "ui/FrameControl.h"
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QtTest>

using namespace ui;

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void controlsHaveTheirNamesTextsAndPlaces_data();
    void controlsHaveTheirNamesTextsAndPlaces();
    void enlargingGivesTheGridTheSpace();
    void menusAndFixedClientSize();
    void selectModeShowsAndHidesTheRange();
    void dateButtonsResetToToday();
    void eachWindowsControlsActOnThatWindow();
    void dateTimeCheckEnds_data();
    void dateTimeCheckEnds();
    void locksAffectConditionsAndMenus();
    void cardNumberRule();
    void typedCardNumberIsNormalised_data();
    void typedCardNumberIsNormalised();
    void focusAndListSwitchTheEntryMode();
    void commandsAsMenuItemsWithShortcutsAndTips();
};

static QWidget *child(MainWindow &w, const char *name)
{
    return w.findChild<QWidget *>(QString::fromLatin1(name));
}

void TestMainWindow::controlsHaveTheirNamesTextsAndPlaces_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry"); // pixels in the parent, from the twips of the layout
    QTest::newRow("fraCardNo") << "fraCardNo" << "カードNO" << QRect(8, 8, 137, 73);
    QTest::newRow("optCardNo(0)") << "optCardNo(0)" << "入力" << QRect(8, 16, 52, 22);
    QTest::newRow("optCardNo(1)") << "optCardNo(1)" << "選択" << QRect(8, 40, 52, 22);
    QTest::newRow("txtCardInput") << "txtCardInput" << "" << QRect(64, 16, 41, 22);
    QTest::newRow("cboCardSelect") << "cboCardSelect" << "" << QRect(64, 40, 57, 24);
    QTest::newRow("optSelectMode(0)") << "optSelectMode(0)" << "全件選択" << QRect(8, 16, 90, 22);
    QTest::newRow("cmdDateStart") << "cmdDateStart" << "開始日時" << QRect(96, 16, 57, 22);
    QTest::newRow("dtpDateStart") << "dtpDateStart" << "" << QRect(160, 16, 105, 22);
    QTest::newRow("dtpTimeEnd") << "dtpTimeEnd" << "" << QRect(336, 40, 89, 22);
    QTest::newRow("fraHFlexGrid") << "fraHFlexGrid" << "利用履歴" << QRect(8, 88, 793, 449);
    QTest::newRow("MSHFlexGrid") << "MSHFlexGrid" << "" << QRect(8, 16, 777, 425);
    QTest::newRow("fraETCCard") << "fraETCCard" << "ETCカード" << QRect(808, 88, 105, 97);
    QTest::newRow("fraDB") << "fraDB" << "データベース" << QRect(808, 192, 105, 137);
    QTest::newRow("fraPrint") << "fraPrint" << "印刷" << QRect(808, 336, 105, 97);
    QTest::newRow("fraWork") << "fraWork" << "その他機能" << QRect(808, 440, 105, 97);
    QTest::newRow("btnCardRead") << "btnCardRead" << "カード読込" << QRect(816, 104, 89, 33);
    QTest::newRow("btnViewCls") << "btnViewCls" << "画面消去" << QRect(816, 144, 89, 33);
    QTest::newRow("btnDBEntry") << "btnDBEntry" << "DB登録" << QRect(816, 208, 89, 33);
    QTest::newRow("btnDBRead") << "btnDBRead" << "DB読込" << QRect(816, 248, 89, 33);
    QTest::newRow("btnDBDelete") << "btnDBDelete" << "DB削除" << QRect(816, 288, 89, 33);
    QTest::newRow("btnPrintDefault") << "btnPrintDefault" << "標準印刷" << QRect(816, 352, 89, 33);
    QTest::newRow("btnPrintDesktop") << "btnPrintDesktop" << "卓上印刷" << QRect(816, 392, 89, 33);
    QTest::newRow("btnCSVOutput") << "btnCSVOutput" << "CSV出力" << QRect(816, 456, 89, 33);
    QTest::newRow("btnExit") << "btnExit" << "終了" << QRect(816, 496, 89, 33);
    QTest::newRow("lblCardStatus") << "lblCardStatus" << "カード状況" << QRect(8, 544, 73, 22);
    QTest::newRow("lblCardValue") << "lblCardValue" << "未接続" << QRect(80, 544, 193, 22);
    QTest::newRow("lblCount") << "lblCount" << "件数" << QRect(280, 544, 33, 22);
    QTest::newRow("lblCountValue") << "lblCountValue" << "0件" << QRect(312, 544, 81, 22);
    QTest::newRow("lblSumMoney") << "lblSumMoney" << "合計金額" << QRect(400, 544, 65, 22);
    QTest::newRow("lblSumValue") << "lblSumValue" << "0円" << QRect(464, 544, 97, 22);
    QTest::newRow("lblPrinter") << "lblPrinter" << "プリンタ" << QRect(568, 544, 65, 22);
    QTest::newRow("ProgressBar") << "ProgressBar" << "" << QRect(1, 576, 662, 16);
}

void TestMainWindow::controlsHaveTheirNamesTextsAndPlaces()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    MainWindow w;
    QWidget *c = w.findChild<QWidget *>(name);
    QVERIFY2(c, qPrintable(name));
    QCOMPARE(c->geometry(), geometry);
    if (auto *box = qobject_cast<FrameControl *>(c))
        QCOMPARE(box->title(), text);
    else if (auto *b = qobject_cast<QAbstractButton *>(c))
        QCOMPARE(b->text(), text);
    else if (auto *l = qobject_cast<QLabel *>(c))
        QCOMPARE(l->text(), text);
    // Every text must be drawable with an installed font (no empty boxes).
    const QFontMetrics fm(c->font());
    for (QChar ch : text)
        QVERIFY2(fm.inFont(ch), qPrintable(name + QStringLiteral(": ") + ch));
}

// The window opens at its designed size with every control where it was
// designed, and may be enlarged: the grid takes the space, the command column
// keeps to the right edge, the status row to the bottom, and the lines under
// the menu to the full width; back at the designed size all is as before.
void TestMainWindow::enlargingGivesTheGridTheSpace()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QList<QWidget *> placed = w.client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    placed << w.MSHFlexGrid;
    placed.removeAll(static_cast<QWidget *>(w.LineA));
    placed.removeAll(static_cast<QWidget *>(w.LineB));
    QMap<QString, QRect> designed;
    for (QWidget *c : placed)
        designed[c->objectName()] = c->geometry();
    QCOMPARE(designed.value("fraHFlexGrid"), QRect(8, 88, 793, 449));
    w.LineA->setLine(QPalette::Dark, 0, 0, w.client->width());

    w.resize(w.size() + QSize(300, 200));
    QTRY_COMPARE(w.client->size(), QSize(1221, 793));
    QCOMPARE(w.fraHFlexGrid->geometry(), designed["fraHFlexGrid"].adjusted(0, 0, 300, 200));
    QCOMPARE(w.MSHFlexGrid->geometry(), designed["MSHFlexGrid"].adjusted(0, 0, 300, 200));
    QCOMPARE(w.btnExit->geometry(), designed["btnExit"].translated(300, 0));
    QCOMPARE(w.fraDB->geometry(), designed["fraDB"].translated(300, 0));
    QCOMPARE(w.lblCountValue->geometry(), designed["lblCountValue"].translated(0, 200));
    QCOMPARE(w.StatusBar->geometry(), designed["StatusBar"].adjusted(0, 200, 300, 200));
    QCOMPARE(w.fraCardNo->geometry(), designed["fraCardNo"]);
    QCOMPARE(w.LineA->width(), 1221);

    w.resize(w.minimumSize());
    QTRY_COMPARE(w.client->size(), QSize(921, 593));
    for (QWidget *c : placed)
        QCOMPARE(c->geometry(), designed[c->objectName()]);
}

void TestMainWindow::menusAndFixedClientSize()
{
    MainWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("PASSLOG"));
    QCOMPARE(w.client->size(), QSize(921, 593));
    QCOMPARE(w.minimumSize(), w.size()); // never smaller than designed
    QStringList titles;
    for (QAction *a : w.menuBar()->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{"ファイル(&F)", "操作(&O)", "編集(&E)", "設定(&C)", "ヘルプ(&H)"}));
    auto names = [](QMenu *m) {
        QStringList out;
        for (QAction *a : m->actions())
            out << a->objectName() + QLatin1Char('=') + a->text();
        return out;
    };
    QCOMPARE(names(w.mnuFile), (QStringList{"mnuCSVOutput=CSV出力(&C)", "mnuCSVImport=CSV取込(&I)",
                                            "mnuMonthlyTotals=月別集計(&M)", "mnuBackup=バックアップ(&B)…",
                                            "mnuRestoreBackup=バックアップから戻す(&R)…", "mnuBarF1=", "mnuPrintDefault=標準印刷(&P)",
                                            "mnuPrintDesktop=卓上プリンタ印刷(&D)", "mnuBarF2=", "mnuExit=終了(&X)"}));
    QCOMPARE(names(w.mnuEdit), (QStringList{"mnuRecordCheck=重複レコード表示(&R)", "mnuRecordDelete=重複レコード削除(&D)",
                                            "mnuRestoreDeleted=削除した利用履歴を元に戻す"}));
    QCOMPARE(names(w.mnuConfig), (QStringList{"mnuView=表示設定(&V)", "mnuPort=通信ポート設定(&P)"}));
    QCOMPARE(names(w.mnuHelp), (QStringList{"mnuGuide=使い方(&G)", "mnuAbout=バージョン情報(&A)"}));
    QCOMPARE(w.dtpDateStart->displayFormat(), QStringLiteral("yyyy/MM/dd"));
    QCOMPARE(w.dtpTimeStart->displayFormat(), QStringLiteral("HH:mm:ss"));
    QCOMPARE(w.txtCardInput->maxLength(), 4);
}

void TestMainWindow::selectModeShowsAndHidesTheRange()
{
    MainWindow w;
    w.show();
    QWidget *range[] = {w.cmdDateStart, w.dtpDateStart, w.dtpTimeStart, w.cmdDateEnd, w.dtpDateEnd, w.dtpTimeEnd};
    showSelectMode(w, 1);
    QVERIFY(w.optSelectMode[1]->isChecked());
    QCOMPARE(w.fraSelectMode->width(), 462);
    for (QWidget *c : range)
        QVERIFY(c->isVisible());
    // The option's own click runs the same procedure.
    QTest::mouseClick(w.optSelectMode[0], Qt::LeftButton, {}, QPoint(8, 11));
    QVERIFY(w.optSelectMode[0]->isChecked());
    QCOMPARE(w.fraSelectMode->width(), 106);
    for (QWidget *c : range)
        QVERIFY(!c->isVisible());
    showSelectMode(w, 7); // any other index: nothing
    QVERIFY(w.optSelectMode[0]->isChecked());
    QCOMPARE(w.fraSelectMode->width(), 106);
}

void TestMainWindow::dateButtonsResetToToday()
{
    TestHarness h;
    h.setNow(QDateTime(QDate(2010, 6, 3), QTime(10, 20, 30)));
    MainWindow w;
    w.dtpDateStart->setDate(QDate(2001, 1, 1));
    w.dtpTimeStart->setTime(QTime(5, 5, 5));
    w.dtpDateEnd->setDate(QDate(2001, 1, 1));
    w.dtpTimeEnd->setTime(QTime(5, 5, 5));
    w.cmdDateStart->click();
    w.cmdDateEnd->click();
    QCOMPARE(selectedRange(w).startText(), QStringLiteral("2010/06/03-00:00:00"));
    QCOMPARE(selectedRange(w).endText(), QStringLiteral("2010/06/03-23:59:59"));
}

void TestMainWindow::eachWindowsControlsActOnThatWindow()
{
    // Two windows at once (one built while another is still there): the
    // controls of the first act on the first, not on the one built last.
    TestHarness h;
    h.setNow(QDateTime(QDate(2010, 6, 3), QTime(10, 20, 30)));
    MainWindow first;
    MainWindow second;
    for (MainWindow *w : {&first, &second}) {
        w->show();
        w->dtpDateStart->setDate(QDate(2001, 1, 1));
        w->dtpTimeStart->setTime(QTime(5, 5, 5));
        showSelectMode(*w, 0);
    }
    first.cmdDateStart->click();
    QCOMPARE(selectedRange(first).startText(), QStringLiteral("2010/06/03-00:00:00"));
    QCOMPARE(selectedRange(second).startText(), QStringLiteral("2001/01/01-05:05:05"));
    QTest::mouseClick(first.optSelectMode[1], Qt::LeftButton, {}, QPoint(8, 11));
    QCOMPARE(first.fraSelectMode->width(), 462);
    QVERIFY(first.dtpDateStart->isVisible());
    QCOMPARE(second.fraSelectMode->width(), 106);
    QVERIFY(!second.dtpDateStart->isVisible());
    // The lock of one window leaves the other's conditions and menus alone.
    setMenusAndConditionsEnabled(first, false);
    QVERIFY(!first.txtCardInput->isEnabled());
    QVERIFY(second.txtCardInput->isEnabled() && second.mnuEdit->isEnabled());
}

void TestMainWindow::dateTimeCheckEnds_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QTime>("endTime");
    QTest::addColumn<bool>("refused");
    QTest::newRow("equal ends accepted") << 1 << QTime(10, 0, 0) << false;
    QTest::newRow("one second earlier refused") << 1 << QTime(9, 59, 59) << true;
    QTest::newRow("later accepted") << 1 << QTime(10, 0, 1) << false;
    QTest::newRow("all records: always passes") << 0 << QTime(9, 0, 0) << false;
}

void TestMainWindow::dateTimeCheckEnds()
{
    QFETCH(int, mode);
    QFETCH(QTime, endTime);
    QFETCH(bool, refused);
    TestHarness h;
    MainWindow w;
    showSelectMode(w, qint16(mode));
    w.dtpDateStart->setDate(QDate(2010, 6, 3));
    w.dtpTimeStart->setTime(QTime(10, 0, 0));
    w.dtpDateEnd->setDate(QDate(2010, 6, 3));
    w.dtpTimeEnd->setTime(endTime);
    QCOMPARE(refuseReversedRange(w), refused);
    if (refused)
        QCOMPARE(h.messageTexts(), QStringList{QStringLiteral("開始日時より前の日時を終了日時に設定することは出来ません。")});
    else
        QVERIFY(h.messages().isEmpty());
}

void TestMainWindow::locksAffectConditionsAndMenus()
{
    MainWindow w;
    const QList<QWidget *> conditions = {w.optCardNo[0],     w.optCardNo[1],     w.txtCardInput, w.cboCardSelect,
                                         w.optSelectMode[0], w.optSelectMode[1], w.cmdDateStart, w.dtpDateStart,
                                         w.dtpTimeStart,     w.cmdDateEnd,       w.dtpDateEnd,   w.dtpTimeEnd};
    const QList<QAction *> items = {w.mnuCSVOutput, w.mnuMonthlyTotals, w.mnuPrintDefault, w.mnuPrintDesktop,
                                    w.mnuRecordCheck, w.mnuRecordDelete};
    const QList<QMenu *> menus = {w.mnuEdit, w.mnuConfig, w.mnuHelp};
    auto allConditions = [&](bool on) {
        for (QWidget *c : conditions)
            if (c->isEnabled() != on)
                return false;
        return true;
    };
    auto allItems = [&](bool on) {
        for (QAction *a : items)
            if (a->isEnabled() != on)
                return false;
        return true;
    };
    auto allMenus = [&](bool on) {
        for (QMenu *m : menus)
            if (m->menuAction()->isEnabled() != on || m->isEnabled() != on)
                return false;
        return true;
    };

    setMenusAndConditionsEnabled(w, false);
    QVERIFY(allConditions(false));
    QVERIFY(allItems(false));
    QVERIFY(allMenus(false));
    QVERIFY(w.mnuFile->menuAction()->isEnabled());
    QVERIFY(w.mnuExit->isEnabled());
    QVERIFY(w.btnExit->isEnabled());

    setMenusAndConditionsEnabled(w, true);
    QVERIFY(allConditions(true));
    QVERIFY(allMenus(true));
    QVERIFY(allItems(false)); // unlocking leaves the output items to the operations

    for (QAction *a : items)
        a->setEnabled(true);
    setConditionsEnabled(w, false);
    QVERIFY(allConditions(false));
    QVERIFY(allItems(false));
    QVERIFY(allMenus(true)); // the menus stay usable while duplicates are shown
    setConditionsEnabled(w, true);
    QVERIFY(allConditions(true));
    QVERIFY(allItems(false));
}

void TestMainWindow::cardNumberRule()
{
    MainWindow w;
    w.cboCardSelect->addItems({"0000", "1234"});
    w.optCardNo[0]->setChecked(true);
    w.txtCardInput->clear();
    QCOMPARE(selectedCardNumber(w), QStringLiteral("0000"));
    w.txtCardInput->setText(QStringLiteral("0042"));
    QCOMPARE(selectedCardNumber(w), QStringLiteral("0042"));
    QTest::keyClick(w.cboCardSelect, Qt::Key_Down); // choosing from the list switches to list entry
    QVERIFY(w.optCardNo[1]->isChecked());
    QCOMPARE(selectedCardNumber(w), QStringLiteral("1234"));
}

void TestMainWindow::typedCardNumberIsNormalised_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("7") << "7" << "0007";
    QTest::newRow("12") << "12" << "0012";
    QTest::newRow("1234") << "1234" << "1234";
    QTest::newRow("12345") << "12345" << "2345";
    QTest::newRow("empty") << "" << "";
    // Not digits: no card number, left as typed (refused where it would be used, never "001'").
    QTest::newRow("quote") << "1'" << "1'";
    QTest::newRow("letter") << "12a" << "12a";
    QTest::newRow("full-width") << "１２" << "0012";
}

void TestMainWindow::typedCardNumberIsNormalised()
{
    QFETCH(QString, typed);
    QFETCH(QString, normalised);
    QCOMPARE(normaliseCardNumber(typed), normalised);
}

void TestMainWindow::focusAndListSwitchTheEntryMode()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    w.cboCardSelect->addItems({"0000", "0012"});
    QTest::keyClick(w.cboCardSelect, Qt::Key_Down);
    QVERIFY(w.optCardNo[1]->isChecked());

    // Typing into the box switches to typed entry; leaving it pads the number.
    w.txtCardInput->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(w.txtCardInput->hasFocus());
    QVERIFY(w.optCardNo[0]->isChecked());
    QTest::keyClicks(w.txtCardInput, QStringLiteral("7"));
    w.btnExit->setFocus(); // focus leaves the text box (no click: that would close the window)
    QTRY_COMPARE(w.txtCardInput->text(), QStringLiteral("0007"));
    QCOMPARE(selectedCardNumber(w), QStringLiteral("0007"));

    // Coming back selects the whole text, so typing replaces it.
    w.txtCardInput->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(w.txtCardInput->selectedText(), QStringLiteral("0007"));
    QTest::keyClicks(w.txtCardInput, QStringLiteral("12"));
    w.btnExit->setFocus();
    QTRY_COMPARE(w.txtCardInput->text(), QStringLiteral("0012"));

    // Tabbing through the card group keeps 選択 (typing would choose 入力),
    // and a date or time picker is one Tab stop.
    w.optCardNo[1]->click();
    QVERIFY(w.optCardNo[1]->isChecked());
    w.optCardNo[0]->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.optCardNo[0], Qt::Key_Tab);
    QTRY_VERIFY(w.txtCardInput->hasFocus());
    QVERIFY(w.optCardNo[1]->isChecked());
    w.optSelectMode[1]->click();
    w.dtpDateStart->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.dtpDateStart, Qt::Key_Tab);
    QTRY_VERIFY(w.dtpTimeStart->hasFocus());
    QTest::keyClick(w.dtpTimeStart, Qt::Key_Tab);
    QTRY_VERIFY(w.cmdDateEnd->hasFocus());
}

// Every command of the button column is also a menu item with its shortcut
// shown, which does what the button does, and only when the button is
// enabled; the controls say what they do; the guide is in the help menu.
void TestMainWindow::commandsAsMenuItemsWithShortcutsAndTips()
{
    MainWindow w;
    auto *commands = w.findChild<QMenu *>(QStringLiteral("mnuCommands"));
    QVERIFY(commands);
    QStringList shown;
    for (QAction *a : commands->actions())
        shown << a->text() + QLatin1Char(' ') + a->shortcut().toString();
    QCOMPARE(shown, (QStringList{"カード読込 F2", "画面消去 F3", "DB登録 F4", "DB読込 F5", "DB削除 Ctrl+Del"}));
    for (QAction *a : {w.mnuCSVOutput, w.mnuCSVImport, w.mnuPrintDefault, w.mnuPrintDesktop, w.mnuExit})
        QVERIFY2(!a->shortcut().isEmpty(), qPrintable(a->objectName()));
    int pressed = 0;
    QObject::disconnect(w.btnDBRead, &QPushButton::clicked, nullptr, nullptr); // no database here
    QObject::connect(w.btnDBRead, &QPushButton::clicked, &w, [&] { ++pressed; });
    QAction *read = w.findChild<QAction *>(QStringLiteral("mnuDBRead"));
    w.btnDBRead->setEnabled(false);
    read->trigger();
    QCOMPARE(pressed, 0);
    w.btnDBRead->setEnabled(true);
    read->trigger();
    QCOMPARE(pressed, 1);
    for (QWidget *c : std::initializer_list<QWidget *>{w.optCardNo[0], w.optCardNo[1], w.txtCardInput, w.cboCardSelect,
                                                       w.optSelectMode[0], w.optSelectMode[1], w.cmdDateStart,
                                                       w.cmdDateEnd, w.btnCardRead, w.btnExit})
        QVERIFY2(!c->toolTip().isEmpty(), qPrintable(c->objectName()));
    QVERIFY(w.cboCardSelect->toolTip().contains(QStringLiteral("「0000」は全カード")));
    QAction *guide = w.findChild<QAction *>(QStringLiteral("mnuGuide"));
    QCOMPARE(guide->shortcut(), QKeySequence(Qt::Key_F1));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
