// The window as a Japanese office uses it: Qt's own dialog texts in Japanese
// on any locale, the keyboard (Tab order, Tab out of the grid, Return on a
// button), the start without a printer, and the questions that delete or
// replace, which default to いいえ, with the counts in their completions.

#include "app/RunSettings.h"
#include "DialogDriver.h"
#include "FlowFixture.h"
#include "app/PrinterSeam.h"
#include "app/QtTranslations.h"
#include "ui/DesktopDialogs.h"
#include "ui/ReportOperations.h"
#include "ui/AboutDialog.h"
#include "ui/DeleteRowsDialog.h"
#include "ui/DesktopPrintDialog.h"
#include "ui/PortSettingsDialog.h"
#include "ui/SortDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintPreviewDialog>
#include <QPointer>
#include <QPrinter>
#include <QScopeGuard>
#include <QToolBar>
#include <QTranslator>
#include <QTreeWidget>

using namespace ui;
using namespace start;

namespace {

// Runs act on the next modal window of type T once it is up: the window under
// test sits in that window's own event loop meanwhile. Whatever act leaves
// open is closed, so that a failed check cannot hang the test.
template <typename T>
void onNextModal(std::function<void(T &)> act)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        auto *w = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!w || !w->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        QPointer<T> alive(w);
        act(*w);
        if (alive && alive->isVisible())
            alive->reject();
    });
    poll->start(20);
}

QStringList buttonTexts(const QList<QAbstractButton *> &buttons)
{
    QStringList texts;
    for (QAbstractButton *b : buttons)
        texts << b->text();
    texts.sort();
    return texts;
}

// Presses Tab from start until the focus comes back to it (or after 40 steps),
// and returns the controls visited, by name.
QStringList tabRing(QWidget *start, Qt::Key key = Qt::Key_Tab)
{
    start->setFocus(Qt::TabFocusReason);
    QStringList names;
    QWidget *at = start;
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(at, key);
        at = QApplication::focusWidget();
        if (!at || at == start)
            break;
        names << at->objectName();
    }
    return names;
}

bool activate(QWidget &w)
{
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

const QString kPrintDone = QStringLiteral("標準印刷が完了しました。");

} // namespace

class tst_officeuse : public QObject {
    Q_OBJECT

private slots:
    // The real message box, save dialog and preview speak Japanese whatever
    // LANG says (ctest runs this under ja_JP and under en_US).
    void dialogTextsAreJapanese()
    {
        Flow f;
        f.seedHistory("0012", 3);
        FLOW_START(f);
        QVERIFY(Flow::click(f.w->btnDBRead));
        QCOMPARE(f.gridRows(), 3);

        const QStringList loaded = app::installQtTranslations();
        QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Folder"), QStringLiteral("フォルダ"));
        QVERIFY2(loaded.contains(QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath("qtbase_ja.qm")),
                 qPrintable(loaded.join(' ')));
        // The copies beside the program, for a Qt without translations.
        for (const QString &catalogue : kQtCatalogues) {
            QTranslator copy;
            QVERIFY2(copy.load(QStringLiteral(PASSLOG_BINARY_DIR "/") + catalogue), qPrintable(catalogue));
        }
        installDesktopDialogs();
        seams::setPrinterListHandler({}); // no printer, whatever this machine has
        const auto realSeamsGo = qScopeGuard([] {
            seams::setPrintQuestionHandler({});
            seams::setPrinterListHandler({});
        });

        // DB削除: はい / いいえ, and Return answers いいえ.
        QStringList boxButtons;
        bool noIsDefault = false;
        onNextModal<QMessageBox>([&](QMessageBox &box) {
            boxButtons = buttonTexts(box.buttons());
            noIsDefault = box.defaultButton() == box.button(QMessageBox::No);
            QTest::keyClick(&box, Qt::Key_Return);
        });
        QVERIFY(Flow::click(f.w->btnDBDelete));
        QCOMPARE(boxButtons, (QStringList{"いいえ(&N)", "はい(&Y)"}));
        QVERIFY(noIsDefault);
        QCOMPARE(Flow::historyRows(), 3);

        // CSV出力: Qt's file dialog, a name typed without ".csv".
        const QString typed = QDir(f.harness.programFolder()).filePath("明細");
        QStringList dialogTexts, done;
        onNextModal<QFileDialog>([&](QFileDialog &d) {
            dialogTexts << d.windowTitle() << d.findChild<QLabel *>("lookInLabel")->text()
                        << d.findChild<QLabel *>("fileNameLabel")->text()
                        << d.findChild<QLabel *>("fileTypeLabel")->text()
                        << buttonTexts(d.findChild<QDialogButtonBox *>("buttonBox")->buttons()).join('|');
            onNextModal<QMessageBox>([&](QMessageBox &box) {
                done << box.text();
                box.accept();
            });
            auto *name = d.findChild<QLineEdit *>("fileNameEdit");
            name->setText(typed);
            QTest::keyClick(name, Qt::Key_Return);
        });
        QVERIFY(Flow::click(f.w->btnCSVOutput));
        QCOMPARE(dialogTexts, (QStringList{"CSVファイルを保存", "アドレス:", "ファイル名(&N):", "ファイルの種類:",
                                           "キャンセル|保存(&S)"}));
        QCOMPARE(doneTexts(done), QStringList{"CSV出力が完了しました。"});
        QVERIFY(QFileInfo(typed + ".csv").size() > 0);

        // 標準印刷 to the PDF file: the question with プレビュー, the preview
        // (maximised, Japanese toolbar), its 印刷, then the save dialog.
        QString previewTitle;
        QStringList toolbar;
        bool maximised = false;
        onNextModal<QMessageBox>([&](QMessageBox &box) {
            boxButtons = buttonTexts(box.buttons());
            onNextModal<QPrintPreviewDialog>([&](QPrintPreviewDialog &preview) {
                previewTitle = preview.windowTitle();
                maximised = preview.isMaximized();
                QAction *print = nullptr;
                for (QAction *a : preview.findChild<QToolBar *>()->actions()) {
                    toolbar << a->text();
                    if (a->text() == QStringLiteral("印刷"))
                        print = a;
                }
                onNextModal<QFileDialog>([&](QFileDialog &d) {
                    dialogTexts = QStringList{d.windowTitle()};
                    onNextModal<QMessageBox>([&](QMessageBox &box) {
                        done << box.text();
                        box.accept();
                    });
                    auto *name = d.findChild<QLineEdit *>("fileNameEdit");
                    name->setText(typed);
                    QTest::keyClick(name, Qt::Key_Return);
                });
                QVERIFY(print);
                print->trigger();
            });
            for (QAbstractButton *b : box.buttons())
                if (b->text() == QStringLiteral("プレビュー"))
                    b->click();
        });
        QCOMPARE(f.w->cboPrinter->currentText(), QStringLiteral("PDFファイル"));
        QVERIFY(Flow::click(f.w->btnPrintDefault));
        QCOMPARE(boxButtons, (QStringList{"いいえ(&N)", "はい(&Y)", "プレビュー"}));
        QCOMPARE(previewTitle, QStringLiteral("印刷プレビュー"));
        QVERIFY(maximised);
        for (const QString &action : {"次のページ", "拡大", "横", "ページ設定"})
            QVERIFY2(toolbar.contains(action), qPrintable(toolbar.join('|')));
        QCOMPARE(dialogTexts, QStringList{"PDFファイルを保存"});
        QCOMPARE(doneTexts(done).value(1), kPrintDone);
        QFile pdf(typed + ".pdf");
        QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.read(4) == "%PDF");
    }

    // Tab leaves the grid and walks every window in the order of its layout;
    // Return presses the focused button.
    void tabOrderAndReturn()
    {
        Flow f;
        f.seedHistory("0012", 3);
        f.seedHistory("0034", 3);
        FLOW_START(f);
        QVERIFY(Flow::click(f.w->btnDBRead));
        f.w->TimerPolling->stop(); // the card-read button stays as it is
        QTableView *grid = f.w->MSHFlexGrid;
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 1));
        QTest::keyClick(grid, Qt::Key_Down);
        QTest::keyClick(grid, Qt::Key_Right);
        QCOMPARE(grid->currentIndex().row(), 1);
        QCOMPARE(QApplication::focusWidget(), grid);

        QStringList commands;
        for (QPushButton *b : {f.w->btnCardRead, f.w->btnViewCls, f.w->btnDBEntry, f.w->btnDBRead, f.w->btnDBDelete,
                               f.w->btnPrintDefault, f.w->btnPrintDesktop, f.w->btnCSVOutput, f.w->btnExit})
            if (b->isEnabled())
                commands << b->objectName();
        QVERIFY(commands.size() >= 4);
        // An option group is one stop (the option that had the focus last);
        // 全件選択 hides the range.
        QVERIFY(f.w->optSelectMode[0]->isChecked() && f.w->dtpDateStart->isHidden());
        const QStringList ring = tabRing(grid);
        const QString cardOption = ring.value(commands.size() + 1);
        QVERIFY(cardOption.startsWith("optCardNo("));
        const QStringList conditions{"cboPrinter", cardOption, "txtCardInput", "cboCardSelect", "optSelectMode(0)"};
        QCOMPARE(ring, commands + conditions);
        // 日時指定: the start and the end, each button, date and time, then the grid.
        QTest::mouseClick(f.w->optSelectMode[1], Qt::LeftButton);
        // (Tab walks the date's and the time's fields before it leaves them.)
        QStringList range = tabRing(f.w->optSelectMode[1]);
        range.removeDuplicates();
        QCOMPARE(range.mid(0, 7),
                 (QStringList{"cmdDateStart", "dtpDateStart", "dtpTimeStart", "cmdDateEnd", "dtpDateEnd",
                              "dtpTimeEnd", "MSHFlexGrid"}));
        // A date typed after a click into the picker, wherever the click fell;
        // a day typed alone still sets the day.
        QLineEdit *startField = f.w->dtpDateStart->findChild<QLineEdit *>();
        for (const char *typed : {"2024/05/01", "2024/5/1", "20240501"})
            for (const int x : {4, 40, 70}) {
                f.w->dtpDateStart->setDate(QDate(2026, 12, 8));
                QTest::mouseClick(startField, Qt::LeftButton, {}, QPoint(x, startField->height() / 2));
                QTest::keyClicks(f.w->dtpDateStart, typed);
                QCOMPARE(f.w->dtpDateStart->date(), QDate(2024, 5, 1));
            }
        f.w->dtpDateStart->setDate(QDate(2026, 12, 8));
        QTest::mouseClick(startField, Qt::LeftButton, {}, QPoint(startField->width() - 8, startField->height() / 2));
        QTest::keyClicks(f.w->dtpDateStart, "20");
        QCOMPARE(f.w->dtpDateStart->date(), QDate(2026, 12, 20));
        QStringList back = tabRing(grid, Qt::Key_Backtab);
        std::reverse(back.begin(), back.end());
        QCOMPARE(back.mid(0, commands.size() + 1), ring.mid(0, commands.size() + 1));
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), ring.first());
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("dtpTimeEnd"));

        // Return on DB削除 asks its question (unanswered: いいえ).
        f.harness.clearMessages();
        f.w->btnDBDelete->setFocus();
        QTest::keyClick(f.w->btnDBDelete, Qt::Key_Return);
        QCOMPARE(f.harness.messageTexts(),
                 QStringList{"現在表示されている6件の利用履歴をデータベースから削除します。よろしいですか?"
                              "\r\n削除した利用履歴は30日間、編集メニューの「削除した利用履歴を元に戻す」で元に戻せます。"});

        // The dialogs: their Tab rings, and Return on 決定 and 取消.
        QStringList sortRing;
        DialogDriver<SortDialog> sort([&](SortDialog &d) {
            QVERIFY(activate(d));
            sortRing = tabRing(d.btnCancel);
            QTest::mouseClick(d.optPassDate[1], Qt::LeftButton);
            d.btnOK->setFocus();
            QTest::keyClick(d.btnOK, Qt::Key_Return);
        });
        f.w->mnuView->trigger();
        QCOMPARE(sortRing, (QStringList{"optPassDate(0)", "btnOK"})); // one stop for the option group
        QVERIFY(!sort.stayedOpen);
        QCOMPARE(app::runSettings().viewSort, QStringLiteral("OLD"));

        QStringList commRing;
        DialogDriver<PortSettingsDialog> comm([&](PortSettingsDialog &d) {
            QVERIFY(activate(d));
            commRing = tabRing(d.btnCancel);
            d.btnCancel->setFocus();
            QTest::keyClick(d.btnCancel, Qt::Key_Return);
        });
        f.w->mnuPort->trigger();
        QCOMPARE(commRing, (QStringList{"cboPort", "btnETCSearch", "btnOK"}));
        QVERIFY(!comm.stayedOpen);

        DeleteRowsDialog del(*f.w);
        del.show();
        QVERIFY(activate(del));
        QCOMPARE(tabRing(del.btnCancel), (QStringList{"cboCardNo", "btnOK"}));
        QTest::keyClick(del.btnCancel, Qt::Key_Return);
        QVERIFY(!del.isVisible());

        DialogDriver<AboutDialog> about([&](AboutDialog &d) {
            QVERIFY(activate(d));
            QTest::keyClick(d.cmdOK, Qt::Key_Return);
        });
        f.w->mnuAbout->trigger();
        QVERIFY(!about.stayedOpen);

        DesktopPrintDialog desk(*f.w);
        desk.show();
        QVERIFY(activate(desk));
        QCOMPARE(tabRing(desk.cmdExit), (QStringList{"ListView", "chkPrint", "cmdPrint"}));
        desk.ListView->setFocus();
        QTest::keyClick(desk.ListView, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), desk.chkPrint);
        desk.cmdExit->setFocus();
        QTest::keyClick(desk.cmdExit, Qt::Key_Return);
        QVERIFY(!desk.isVisible());
    }

    // Without a printer the list starts on the PDF file, whose print also
    // offers the preview before the save dialog.
    void noPrinterStartsOnThePdfFile()
    {
        Flow f; // the harness lists no printer
        FLOW_START(f);
        QCOMPARE(f.w->cboPrinter->count(), 2);
        QCOMPARE(f.w->cboPrinter->itemText(0), QStringLiteral("インストールされていません"));
        QCOMPARE(f.w->cboPrinter->currentText(), QStringLiteral("PDFファイル"));
        QVERIFY(f.readCard());
        f.typeCardNumber("1234");
        const QString shown = f.w->lblCountValue->text();

        QList<seams::Message> questions;
        seams::PrintAnswer answer = seams::PrintAnswer::Preview;
        seams::setPrintQuestionHandler([&](const seams::Message &m) {
            questions << m;
            return answer;
        });
        QList<QPrinter::OutputFormat> previews;
        bool printFromPreview = false;
        setPreviewHandler([&](QPrinter &printer, const std::function<void(QPrinter *)> &paint) {
            previews << printer.outputFormat();
            QPrinter pages(QPrinter::HighResolution);
            pages.setOutputFormat(QPrinter::PdfFormat);
            pages.setOutputFileName(QDir(f.harness.programFolder()).filePath("preview.pdf"));
            paint(&pages);
            return printFromPreview;
        });
        const auto restore = qScopeGuard([] {
            seams::setPrintQuestionHandler({});
            setPreviewHandler({});
        });
        const QString file = QDir(f.harness.programFolder()).filePath("statement");

        f.harness.clearMessages();
        QVERIFY(Flow::click(f.w->btnPrintDefault)); // preview closed: no save dialog, no file
        QCOMPARE(questions.size(), 1);
        QCOMPARE(questions[0].text, "現在表示されている" + shown + "の利用履歴をPDFファイルに出力します。\r\n準備は宜しいですか?");
        QCOMPARE(previews, QList<QPrinter::OutputFormat>{QPrinter::PdfFormat});
        QVERIFY(QFileInfo(QDir(f.harness.programFolder()).filePath("preview.pdf")).size() > 0);
        QVERIFY(f.harness.messages().isEmpty());

        printFromPreview = true;
        f.harness.queueSaveFile(file);
        QVERIFY(Flow::click(f.w->btnPrintDefault));
        QCOMPARE(doneTexts(f.harness.messageTexts()), QStringList{kPrintDone});
        QVERIFY(QFileInfo(file + ".pdf").size() > 0);

        // はい goes straight to the save dialog.
        answer = seams::PrintAnswer::Print;
        f.harness.clearMessages();
        f.harness.queueSaveFile(file + "2.pdf");
        QVERIFY(Flow::click(f.w->btnPrintDefault));
        QCOMPARE(previews.size(), 2);
        QCOMPARE(doneTexts(f.harness.messageTexts()), QStringList{kPrintDone});
        QVERIFY(QFileInfo(file + "2.pdf").size() > 0);
    }

    // DB削除, the duplicate deletion and replacing a PDF ask with いいえ as
    // the default; other questions keep はい. The deletions say how many rows went.
    void destructiveQuestionsDefaultToNo()
    {
        Flow f;
        f.seedHistory("0012", 3);
        f.seedHistory("0034", 2); // same passages: two duplicates of card 0012
        FLOW_START(f);
        QVERIFY(Flow::click(f.w->btnDBRead));
        const auto defaults = [&] {
            QList<std::optional<seams::MsgAnswer>> out;
            for (const seams::Message &m : f.harness.messages())
                out << m.defaultButton;
            return out;
        };
        using Defaults = QList<std::optional<seams::MsgAnswer>>;
        const std::optional<seams::MsgAnswer> usual, no = seams::MsgAnswer::No;

        // Replacing a PDF file: いいえ keeps it, and the dialog comes again.
        const QString pdf = QDir(f.harness.programFolder()).filePath("old.pdf");
        QFile old(pdf);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        seams::setPrintQuestionHandler([](const seams::Message &) { return seams::PrintAnswer::Print; });
        const auto restore = qScopeGuard([] { seams::setPrintQuestionHandler({}); });
        f.harness.clearMessages();
        f.harness.queueSaveFile(pdf);
        f.harness.queueSaveFile(QString());
        QVERIFY(Flow::click(f.w->btnPrintDefault));
        QCOMPARE(f.harness.messages().size(), 1);
        QVERIFY(f.harness.messages()[0].text.startsWith("同名のファイルが既に存在します。"));
        QCOMPARE(defaults(), Defaults{no});
        QCOMPARE(old.size(), 3);

        f.harness.clearMessages();
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        f.w->mnuRecordCheck->trigger(); // showing duplicates deletes nothing
        DialogDriver<DeleteRowsDialog> del([&](DeleteRowsDialog &d) {
            d.cboCardNo->setCurrentText("0012");
            f.harness.queueAnswer(seams::MsgAnswer::Yes);
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
        });
        f.w->mnuRecordDelete->trigger();
        QCOMPARE(f.harness.messageTexts().value(2), QStringLiteral("重複レコード削除が完了しました。\r\n2件削除しました。"));
        QCOMPARE(defaults(), (Defaults{usual, no, usual}));
        QCOMPARE(Flow::historyRows("0012"), 1);

        QVERIFY(Flow::click(f.w->btnDBRead));
        f.harness.clearMessages();
        QVERIFY(f.clickYes(f.w->btnDBDelete));
        QCOMPARE(f.harness.messageTexts(),
                 (QStringList{"現在表示されている3件の利用履歴をデータベースから削除します。よろしいですか?"
                              "\r\n削除した利用履歴は30日間、編集メニューの「削除した利用履歴を元に戻す」で元に戻せます。",
                              "DB削除が完了しました。\r\n3件削除しました。"}));
        QCOMPARE(defaults(), (Defaults{no, usual}));
        QCOMPARE(Flow::historyRows(), 0);
    }
};

QTEST_MAIN(tst_officeuse)
#include "tst_officeuse.moc"
