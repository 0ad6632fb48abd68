// The window's report commands: the printer list, the refusals and the
// question of the standard print, the PDF file and the preview, the CSV
// export's dialog, overwrite question and remembered folder, and the files
// they write on a disk that is full.

#include "app/RunSettings.h"
#include "../reports/ReportFixture.h"
#include "app/PrinterSeam.h"
#include "app/ProfileFile.h"
#include "app/Common.h"
#include "app/Settings.h"
#include "ui/ReportOperations.h"
#include "ui/MainWindow.h"
#include "ui/Progress.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QRadioButton>

#include <unistd.h>

using namespace ui;

namespace {
struct SaveDialog {
    QString caption, initialPath, filter;
};

QStringList items(const QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

// Writes into a new file until the file system refuses: the disk is full.
void fillDisk(const QString &folder)
{
    QFile filler(QDir(folder).filePath("filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size()) {
    }
    while (filler.write("x", 1) == 1) {
    }
}

const QString kCsvDone = QStringLiteral("CSV出力が完了しました。");
const QString kPrintDone = QStringLiteral("標準印刷が完了しました。");
} // namespace

class TestReportCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    std::unique_ptr<MainWindow> w;
    QList<SaveDialog> dialogs;
    QStringList chosen; // answers of the save dialog ("" = cancel)

    QString folder(const QString &name) const
    {
        const QString path = QDir(h->programFolder()).filePath(name);
        QDir().mkpath(path);
        return path;
    }
    void fakePrinters(const QStringList &names, const QString &defaultName)
    {
        seams::setPrinterListHandler([=] { return seams::PrinterList{names, defaultName}; });
    }
    void typeCard(const QString &card)
    {
        w->optCardNo[0]->setChecked(true);
        w->txtCardInput->setText(card);
    }
    QString iniValue(const QString &key) const
    {
        return app::readProfileString(kSectionMain, key, h->settingsFile());
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        w = std::make_unique<MainWindow>();
        openDatabases(*h);
        app::readSettingsFile(); // writes the settings file
        app::runSettings().csvFolder = app::withTrailingSeparator(folder("desktop"));
        app::runSettings().viewSort = QStringLiteral("OLD");
        dialogs.clear();
        chosen.clear();
        seams::setSaveFileHandler([this](const QString &caption, const QString &initial, const QString &filter) {
            dialogs << SaveDialog{caption, initial, filter};
            return chosen.isEmpty() ? QString() : chosen.takeFirst();
        });
        fakePrinters({"Office", "Laser"}, "Laser");
        fillPrinterList(*w);
        w->showTotals(1, 0);
    }
    void cleanup()
    {
        seams::setPrinterListHandler({});
        seams::setPrintQuestionHandler({});
        setPreviewHandler({});
        setProgressHandler({});
        closeDatabases();
        w.reset();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void printerList_data()
    {
        QTest::addColumn<QStringList>("printers");
        QTest::addColumn<QString>("defaultName");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("selected");
        QTest::newRow("none") << QStringList{} << "" << QStringList{"インストールされていません", "PDFファイル"}
                              << "PDFファイル";
        QTest::newRow("one") << QStringList{"Office"} << "Office" << QStringList{"Office", "PDFファイル"} << "Office";
        QTest::newRow("several, default last, named with blanks")
            << QStringList{"Office", "Lab", "Laser"} << " Laser " << QStringList{"Office", "Lab", "Laser", "PDFファイル"}
            << "Laser";
        QTest::newRow("several, no default") << QStringList{"Office", "Lab"} << ""
                                             << QStringList{"Office", "Lab", "PDFファイル"} << "Office";
    }
    void printerList()
    {
        QFETCH(QStringList, printers);
        QFETCH(QString, defaultName);
        QFETCH(QStringList, listed);
        QFETCH(QString, selected);
        fakePrinters(printers, defaultName);
        fillPrinterList(*w);
        fillPrinterList(*w); // a second fill does not add up
        QCOMPARE(items(w->cboPrinter), listed);
        QCOMPARE(w->cboPrinter->currentText(), selected);
    }

    void printRefusals()
    {
        insertRecord("ETC_TEMP", tomeiRecord());
        showView(1);
        w->view = testView;
        fakePrinters({}, {});
        fillPrinterList(*w);
        w->cboPrinter->setCurrentIndex(0);
        typeCard("1234");
        printStatement(*w);
        QCOMPARE(h->messageTexts(), QStringList{"プリンタが見つかりません。プリンタをインストールしてください。"});
        QCOMPARE(h->messages().last().icon, seams::MsgIcon::Warning);

        fakePrinters({"Office"}, "Office");
        fillPrinterList(*w);
        h->clearMessages();
        typeCard("");
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->btnExit->setFocus();
        printStatement(*w);
        exportCsv(*w);
        QCOMPARE(h->messageTexts(), QStringList(2, "カードNOが入力されていません。"));
        QCOMPARE(QApplication::focusWidget(), w->txtCardInput);

        h->clearMessages();
        typeCard("0000");
        printStatement(*w);
        exportCsv(*w);
        QCOMPARE(h->messageTexts(),
                 (QStringList{"カードNO:[0000]では印刷できません。", "カードNO:[0000]ではCSV出力できません。"}));
        QVERIFY(dialogs.isEmpty());
    }

    void printQuestion()
    {
        insertRecord("ETC_DATA", tomeiRecord());
        showView(2);
        w->view = testView;
        w->showTotals(12, 0);
        typeCard(""); // a database view needs no card number
        printStatement(*w); // answered No
        QCOMPARE(h->messageTexts(),
                 QStringList{"現在表示されている12件の利用履歴を下記プリンタより印刷します。\r\n準備は宜しいですか?\r\n\r\n"
                             "Laser\r\n\r\n※用紙サイズはA4固定です。プリンタに用紙があることを確認してください。"});
        QCOMPARE(h->messages().last().buttons, seams::MsgButtons::YesNo);
        QCOMPARE(h->messages().last().icon, seams::MsgIcon::Information);
        // Yes with nothing to print: no job, the completion all the same.
        historyExec("DELETE FROM ETC_DATA");
        h->clearMessages();
        h->queueAnswer(seams::MsgAnswer::Yes);
        printStatement(*w);
        QCOMPARE(h->messageTexts().size(), 2);
        QCOMPARE(doneTexts(h->messageTexts()).last(), kPrintDone);
    }

    void preview()
    {
        insertRecord("ETC_TEMP", tomeiRecord());
        showView(1);
        w->view = testView;
        typeCard("4321");
        QList<seams::Message> questions;
        seams::setPrintQuestionHandler([&](const seams::Message &m) {
            questions << m;
            return seams::PrintAnswer::Preview;
        });
        const QString file = QDir(h->programFolder()).filePath("preview.pdf");
        QString previewPrinter;
        bool printFromPreview = false;
        setPreviewHandler([&](QPrinter &printer, const std::function<void(QPrinter *)> &paint) {
            previewPrinter = printer.printerName();
            QPrinter pdf(QPrinter::HighResolution);
            pdf.setOutputFormat(QPrinter::PdfFormat);
            pdf.setOutputFileName(file);
            paint(&pdf);
            return printFromPreview;
        });
        printStatement(*w); // closed without printing
        QCOMPARE(questions.size(), 1);
        QVERIFY(questions[0].text.contains("\r\n\r\nLaser\r\n\r\n"));
        QVERIFY(h->messageTexts().isEmpty());
        QVERIFY(readAll(file).startsWith("%PDF"));
        printFromPreview = true;
        printStatement(*w);
        QCOMPARE(doneTexts(h->messageTexts()), QStringList{kPrintDone});
    }

    // Long work shows a progress window: shown while the work goes on, its
    // bar moving, and 中止 stops the work. The statement's preview reports.
    void longWorkShowsProgress()
    {
        {
            const auto report = progressOf(w.get(), QStringLiteral("テスト中…"));
            QList<int> values;
            QElapsedTimer t;
            t.start();
            bool going = true;
            for (qint64 done = 0; going && t.elapsed() < 6000; ++done) {
                QThread::msleep(20);
                going = report(done, 200);
                auto *dialog = w->findChild<QProgressDialog *>();
                if (!dialog || !dialog->isVisible())
                    continue;
                if (values.isEmpty() || values.last() != dialog->value())
                    values << dialog->value();
                if (values.size() == 4) {
                    auto *stop = dialog->findChild<QPushButton *>();
                    QVERIFY(stop);
                    QCOMPARE(stop->text(), QStringLiteral("中止"));
                    QTimer::singleShot(0, stop, &QPushButton::click);
                }
            }
            QVERIFY2(values.size() >= 4, qPrintable(QString::number(values.size())));
            QVERIFY(!going);
            QVERIFY(t.elapsed() < 3000);
        }

        for (int i = 0; i < 300; ++i)
            insertRecord("ETC_DATA", tomeiRecord());
        showView(2);
        w->view = testView;
        seams::setPrintQuestionHandler([](const seams::Message &) { return seams::PrintAnswer::Preview; });
        QList<qint64> previewed;
        setProgressHandler([&](const QString &label, qint64 done, qint64 total) {
            if (label == QStringLiteral("印刷プレビューを作成中…") && total == 300)
                previewed << done;
            return true;
        });
        setPreviewHandler([&](QPrinter &, const std::function<void(QPrinter *)> &paint) {
            QPrinter pdf(QPrinter::HighResolution);
            pdf.setOutputFormat(QPrinter::PdfFormat);
            pdf.setOutputFileName(QDir(h->programFolder()).filePath("preview.pdf"));
            paint(&pdf);
            return false;
        });
        printStatement(*w);
        QVERIFY(!previewed.isEmpty());
    }

    void pdfFile()
    {
        insertRecord("ETC_DATA", tomeiRecord());
        showView(2);
        w->view = testView;
        w->cboPrinter->setCurrentText("PDFファイル");
        QStringList questions;
        seams::setPrintQuestionHandler([&](const seams::Message &m) {
            questions << m.text;
            return seams::PrintAnswer::Print;
        });
        const QString file = QDir(folder("pdf")).filePath("明細");
        chosen << "" << file;
        printStatement(*w); // cancelled
        QVERIFY(h->messageTexts().isEmpty());
        printStatement(*w);
        QCOMPARE(dialogs.size(), 2);
        QCOMPARE(dialogs[0].caption, QStringLiteral("PDFファイルを保存"));
        QCOMPARE(dialogs[0].initialPath, app::runSettings().csvFolder + "ＥＴＣ利用履歴明細表_全カード_全期間.pdf"); // what and of which view
        QCOMPARE(dialogs[1].initialPath, dialogs[0].initialPath);
        QCOMPARE(doneTexts(h->messageTexts()), QStringList{kPrintDone});
        // The print question names the file, not a printer or its paper.
        QCOMPARE(questions.value(1), "現在表示されている1件の利用履歴をPDFファイルに出力します。\r\n準備は宜しいですか?");
        const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
        QVERIFY(readAll(file + ".pdf").startsWith("%PDF"));
        if (!pdftotext.isEmpty())
            QVERIFY(pdfPages(pdftotext, file + ".pdf").value(0).contains("1234 1件 1320円"));
        // An existing file is replaced only after a Yes.
        h->clearMessages();
        chosen << file + ".pdf";
        const QByteArray before = readAll(file + ".pdf");
        printStatement(*w); // No to the question, then the dialog is cancelled
        QCOMPARE(dialogs[2].initialPath, file + ".pdf"); // the name chosen last
        QCOMPARE(h->messages().size(), 1);
        QVERIFY(h->messages()[0].text.endsWith(QDir::toNativeSeparators(file + ".pdf")));
        QCOMPARE(readAll(file + ".pdf"), before);
    }

    void csvDialogAndFolder()
    {
        insertRecord("ETC_DATA", tomeiRecord());
        showView(2);
        w->view = testView;
        // A folder whose name contains the file's name.
        const QString target = QDir(folder("out.csv")).filePath("out.csv");
        chosen << "" << target;
        exportCsv(*w); // cancelled: nothing happens
        QVERIFY(h->messageTexts().isEmpty());
        QCOMPARE(app::runSettings().csvFolder, app::withTrailingSeparator(folder("desktop")));
        exportCsv(*w);
        QCOMPARE(dialogs.size(), 2);
        QCOMPARE(dialogs[0].caption, QStringLiteral("CSVファイルを保存"));
        QCOMPARE(dialogs[0].filter, QStringLiteral("CSVファイル (*.csv);;すべてのファイル (*.*)"));
        QCOMPARE(dialogs[0].initialPath, app::withTrailingSeparator(folder("desktop")) + "利用履歴_全カード_全期間.csv");
        // The completion says where the file went.
        QCOMPARE(h->messageTexts(), QStringList{kCsvDone + "\r\n" + QDir::toNativeSeparators(target) + " に保存しました。"});
        QCOMPARE(readAll(target), tomeiLine());
        const QString remembered = app::withTrailingSeparator(QDir::toNativeSeparators(folder("out.csv")));
        QCOMPARE(app::runSettings().csvFolder, remembered);
        QCOMPARE(iniValue("CSVPath"), remembered);

        // A card read written under the number typed for it: the name says that card.
        insertRecord("ETC_TEMP", tomeiRecord());
        showView(1);
        w->view = testView;
        typeCard("1234");
        w->setProperty("CommonDialog.FileName", QVariant()); // a first export of the run
        chosen << "";
        exportCsv(*w);
        QCOMPARE(dialogs.last().initialPath.section('/', -1), QStringLiteral("利用履歴_1234_全期間.csv"));
    }

    void csvOverwriteQuestion()
    {
        insertRecord("ETC_TEMP", tomeiRecord());
        showView(1);
        w->view = testView;
        typeCard("1234");
        const QString target = QDir(folder("csv")).filePath("history.csv");
        chosen << target;
        exportCsv(*w); // new file, no question
        // No twice: appended twice; Cancel: the dialog again, with the same name.
        for (int i = 0; i < 2; ++i) {
            chosen << target;
            h->queueAnswer(seams::MsgAnswer::No);
            exportCsv(*w);
        }
        QCOMPARE(readAll(target), tomeiLine() + tomeiLine() + tomeiLine());
        h->clearMessages();
        chosen << target << "";
        h->queueAnswer(seams::MsgAnswer::Cancel);
        exportCsv(*w);
        QCOMPARE(dialogs.size(), 5);
        QCOMPARE(dialogs[4].initialPath, target);
        QCOMPARE(h->messageTexts(),
                 QStringList{"同名のファイルが既に存在します。下記ファイルに上書きを行いますか?\r\n\r\n" +
                             QDir::toNativeSeparators(target) +
                             "\r\n\r\n※「いいえ」を選択した場合、既存のファイルに追加書込みを行います。"});
        QCOMPARE(h->messages()[0].buttons, seams::MsgButtons::YesNoCancel);
        QCOMPARE(h->messages()[0].defaultButton, std::optional(seams::MsgAnswer::Cancel)); // Return replaces nothing
        h->clearMessages();
        chosen << target;
        h->queueAnswer(seams::MsgAnswer::Yes);
        exportCsv(*w);
        QCOMPARE(readAll(target), tomeiLine());
        QCOMPARE(doneTexts(h->messageTexts()).last(), kCsvDone);
    }

    // A 128 KiB file system filled up: replacing or extending an old CSV file,
    // replacing a PDF and rewriting a settings file there all fail with a
    // warning, leave the old file byte for byte and leave nothing beside it.
    void fullDiskKeepsOldFiles()
    {
        if (geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        const QString disk = folder("disk");
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=128k", "tmpfs", disk}) != 0)
            QSKIP("mount -t tmpfs failed");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {disk}); });
        const QString csv = QDir(disk).filePath("old.csv");
        const QString pdf = QDir(disk).filePath("old.pdf");
        const QString ini = QDir(disk).filePath("passlog.ini");
        const QByteArray oldCsv(2000, 'c');
        const QByteArray oldPdf = "%PDF-1.4 " + QByteArray(1000, 'p');
        const QByteArray oldIni = "[PASSLOG]\r\nCSVPath=C:\\\r\n";
        for (const auto &[path, bytes] : {std::pair{csv, oldCsv}, {pdf, oldPdf}, {ini, oldIni}}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        }
        fillDisk(disk);
        const QStringList files = QDir(disk).entryList(QDir::Files);
        for (int i = 0; i < 3; ++i)
            insertRecord("ETC_DATA", tomeiRecord());
        showView(2);
        w->view = testView;

        for (const seams::MsgAnswer answer : {seams::MsgAnswer::Yes, seams::MsgAnswer::No}) {
            h->clearMessages();
            chosen << csv;
            h->queueAnswer(answer); // Yes: overwrite, No: extend
            exportCsv(*w);
            QCOMPARE(h->messages().size(), 2);
            QCOMPARE(h->messages()[1].text,
                     "CSVファイルを書き込めませんでした。ディスクの空き容量と書き込み権限を確認してください。\r\n\r\n" +
                         QDir::toNativeSeparators(csv) + "\r\n\r\n※既存のファイルは変更されていません。");
            QCOMPARE(h->messages()[1].icon, seams::MsgIcon::Warning);
            QCOMPARE(readAll(csv), oldCsv);
            QCOMPARE(QDir(disk).entryList(QDir::Files), files);
        }

        h->clearMessages();
        w->cboPrinter->setCurrentText("PDFファイル");
        chosen << pdf;
        h->queueAnswer(seams::MsgAnswer::Yes); // the print question
        h->queueAnswer(seams::MsgAnswer::Yes); // replace
        printStatement(*w);
        QCOMPARE(h->messages().size(), 3);
        QVERIFY(h->messages()[2].text.startsWith("PDFファイルを書き込めませんでした。"));
        QVERIFY(!h->messageTexts().contains(kPrintDone));
        QCOMPARE(readAll(pdf), oldPdf);

        QVERIFY(!app::writeProfileString(kSectionMain, "CSVPath", QString(300, 'd'), ini));
        QCOMPARE(readAll(ini), oldIni);
        QCOMPARE(QDir(disk).entryList(QDir::Files), files);
    }

    // Stopping a long CSV export (replacing or extending a file) or a PDF
    // statement at its second progress report leaves the old file byte for
    // byte, nothing beside it, and shows no completion message.
    void stoppedReportsKeepOldFiles()
    {
        insertRecord("ETC_DATA", tomeiRecord());
        const QString columns = QStringList(tomeiRecord().keys()).join(',');
        for (int i = 0; i < 13; ++i) // 8192 rows: several progress reports
            historyExec("INSERT INTO ETC_DATA (" + columns + ") SELECT " + columns + " FROM ETC_DATA");
        showView(2);
        w->view = testView;
        struct Report {
            QString label;
            qint64 done, total;
        };
        QList<Report> reports;
        setProgressHandler([&](const QString &label, qint64 done, qint64 total) {
            reports << Report{label, done, total};
            return reports.size() < 2;
        });
        const QString dir = folder("stop");
        const QString csv = QDir(dir).filePath("old.csv"), pdf = QDir(dir).filePath("old.pdf");
        const QByteArray oldCsv = tomeiLine("0001"), oldPdf = "%PDF-1.4 old";
        for (const auto &[path, bytes] : {std::pair{csv, oldCsv}, {pdf, oldPdf}}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        }
        const QStringList files{"old.csv", "old.pdf"};

        for (const seams::MsgAnswer answer : {seams::MsgAnswer::Yes, seams::MsgAnswer::No}) {
            reports.clear();
            h->clearMessages();
            chosen << csv;
            h->queueAnswer(answer); // Yes: replace, No: extend
            exportCsv(*w);
            QCOMPARE(reports.size(), 2);
            QCOMPARE(reports[1].label, QStringLiteral("CSV出力中…"));
            QCOMPARE(reports[1].total, qint64(8192));
            QVERIFY(reports[0].done <= reports[1].done && reports[1].done < 8192);
            QCOMPARE(h->messages().size(), 1); // the overwrite question only
            QCOMPARE(readAll(csv), oldCsv);
            QCOMPARE(QDir(dir).entryList(QDir::Files), files);
        }

        reports.clear();
        h->clearMessages();
        w->cboPrinter->setCurrentText("PDFファイル");
        chosen << pdf;
        h->queueAnswer(seams::MsgAnswer::Yes); // the print question
        h->queueAnswer(seams::MsgAnswer::Yes); // replace
        printStatement(*w);
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports[1].label, QStringLiteral("標準印刷中…"));
        QCOMPARE(reports[1].total, qint64(8192));
        QVERIFY(reports[0].done > 0 && reports[0].done < reports[1].done);
        QCOMPARE(h->messages().size(), 2); // the print question and the replace question
        QCOMPARE(readAll(pdf), oldPdf);
        QCOMPARE(QDir(dir).entryList(QDir::Files), files);

        // Not stopped, the same export completes.
        setProgressHandler([&](const QString &, qint64, qint64) { return true; });
        h->clearMessages();
        chosen << csv;
        h->queueAnswer(seams::MsgAnswer::Yes);
        exportCsv(*w);
        QCOMPARE(doneTexts(h->messageTexts()).last(), kCsvDone);
        QCOMPARE(readAll(csv).count("\r\n"), qsizetype(8192));
    }

    void csvWithoutSettingsFile()
    {
        insertRecord("ETC_DATA", tomeiRecord());
        showView(2);
        w->view = testView;
        QVERIFY(QFile::remove(h->settingsFile()));
        const QString before = app::runSettings().csvFolder;
        const QString target = QDir(folder("csv")).filePath("history.csv");
        chosen << target;
        exportCsv(*w);
        QCOMPARE(h->messageTexts(), QStringList{app::settingsFileName() + " が見つかりません。"});
        QVERIFY(QFileInfo(app::settingsFileName()).isAbsolute());
        QCOMPARE(app::runSettings().csvFolder, before);
        QVERIFY(!QFileInfo::exists(target));
        QVERIFY(!QFileInfo::exists(h->settingsFile()));
    }
};

QTEST_MAIN(TestReportCommands)
#include "tst_reportcommands.moc"
