#include "ui/ImportOperations.h"
#include "app/RunSettings.h"

#include "app/Failure.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "reports/CsvImport.h"
#include "ui/Commands.h"
#include "ui/Progress.h"
#include "ui/ReportOperations.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

namespace ui {

namespace {

OpenCsvFilesHandler g_openFiles;
ImportQuestionHandler g_question;

QStringList askFiles(const QString &folder)
{
    if (g_openFiles)
        return g_openFiles(folder);
    QFileDialog::Options options;
#ifndef Q_OS_WIN
    // The desktop's own dialog would speak the session's language; Qt's speaks Japanese.
    options |= QFileDialog::DontUseNativeDialog;
#endif
    return QFileDialog::getOpenFileNames(QApplication::activeWindow(), QStringLiteral("取り込むCSVファイル"), folder,
                                         QStringLiteral("CSVファイル (*.csv);;すべてのファイル (*.*)"), nullptr,
                                         options);
}

ImportChoice askImport(const reports::CsvImportSummary &summary, const QString &oneCard, const QString &suggestedCard)
{
    if (g_question)
        return g_question(reports::csvImportSummaryText(summary), oneCard);
    std::unique_ptr<QDialog> box(importSummaryDialog(summary, oneCard, suggestedCard));
    ImportChoice choice;
    choice.import = box->exec() == QDialog::Accepted;
    auto *one = box->findChild<QCheckBox *>(QStringLiteral("chkOneCard"));
    auto *card = box->findChild<QLineEdit *>(QStringLiteral("txtOneCard"));
    if (one && card && one->isChecked())
        choice.oneCard = card->text();
    return choice;
}

} // namespace

QDialog *importSummaryDialog(const reports::CsvImportSummary &summary, const QString &oneCard, const QString &suggestedCard)
{
    auto *box = new QDialog(QApplication::activeWindow());
    box->setWindowTitle(kAppTitle);
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(new QLabel(QStringLiteral("次の利用履歴を取り込みます。"), box));
    auto *text = new QLabel(reports::csvImportSummaryText(summary, false).trimmed(), box);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setWordWrap(true);
    layout->addWidget(text);
    // The cards in a table that scrolls: a file of thousands of cards keeps
    // the buttons on the screen.
    auto *cards = new QTableWidget(int(summary.cards.size()), 3, box);
    cards->setObjectName(QStringLiteral("grdImportCards"));
    cards->setHorizontalHeaderLabels({QStringLiteral("カードNO"), QStringLiteral("件数"), QStringLiteral("新規")});
    cards->verticalHeader()->hide();
    cards->setEditTriggers(QAbstractItemView::NoEditTriggers);
    cards->setSelectionMode(QAbstractItemView::NoSelection);
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    int row = 0;
    for (auto it = summary.cards.cbegin(); it != summary.cards.cend(); ++it, ++row) {
        cards->setItem(row, 0, new QTableWidgetItem(it.key()));
        for (const auto &[column, value] : {std::pair{1, it->lines}, std::pair{2, it->added}}) {
            auto *item = new QTableWidgetItem(japanese.toString(value) + QStringLiteral("件"));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            cards->setItem(row, column, item);
        }
    }
    cards->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    const int shown = qMin(int(summary.cards.size()), 8);
    cards->setMinimumHeight(cards->horizontalHeader()->sizeHint().height() +
                            qMax(shown, 2) * cards->verticalHeader()->defaultSectionSize() + 4);
    layout->addWidget(cards, 1);
    // Filing every line under one card is a choice, off unless made.
    auto *row1 = new QHBoxLayout;
    auto *one = new QCheckBox(QStringLiteral("すべての行を次のカードNOで取り込む"), box);
    one->setObjectName(QStringLiteral("chkOneCard"));
    auto *card = new QLineEdit(oneCard.isEmpty() ? suggestedCard : oneCard, box);
    card->setObjectName(QStringLiteral("txtOneCard"));
    card->setMaxLength(4);
    card->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,4}")), card));
    card->setFixedWidth(card->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
    one->setChecked(!oneCard.isEmpty());
    card->setEnabled(one->isChecked());
    QObject::connect(one, &QCheckBox::toggled, card, &QWidget::setEnabled);
    row1->addWidget(one);
    row1->addWidget(card);
    row1->addStretch();
    layout->addLayout(row1);
    auto *buttons = new QDialogButtonBox(box);
    QPushButton *import = buttons->addButton(QStringLiteral("取込"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    import->setDefault(true);
    layout->addWidget(buttons);
    // 取込 with one card needs four digits other than 0000.
    const auto valid = [one, card, import] {
        import->setEnabled(!one->isChecked() ||
                           (card->text().size() == 4 && card->text() != QStringLiteral("0000")));
    };
    QObject::connect(one, &QCheckBox::toggled, box, valid);
    QObject::connect(card, &QLineEdit::textChanged, box, valid);
    valid();
    QObject::connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::reject);
    // Never larger than the screen's room for windows.
    QSize size = box->sizeHint().expandedTo(QSize(460, 0));
    if (const QScreen *screen = box->screen()) {
        const QSize room = screen->availableGeometry().size() * 9 / 10;
        size = size.boundedTo(room);
        box->setMaximumSize(screen->availableGeometry().size());
    }
    box->resize(size);
    return box;
}

void setOpenCsvFilesHandler(OpenCsvFilesHandler handler) { g_openFiles = std::move(handler); }
void setImportQuestionHandler(ImportQuestionHandler handler) { g_question = std::move(handler); }

void importCsvFiles(MainWindow &f)
{
    guarded(app::Procedure::ImportCsv, [&] {
        if (typedCardNumberRefused(f))
            return;
        const QStringList files = askFiles(rememberedFolder(QStringLiteral("ImportPath"), app::runSettings().csvFolder));
        if (files.isEmpty())
            return;
        rememberFolderOf(QStringLiteral("ImportPath"), files.first());
        // Each line keeps its own card number unless the user chooses one
        // card for all of them in the summary (the card chosen in the window
        // is suggested there).
        QString suggested = selectedCardNumber(f);
        if (suggested == kNoCardNo)
            suggested.clear();
        QString card;
        std::unique_ptr<reports::CsvImport> checking;
        QString changed; // said before the summary when the files changed after the last one
        for (;;) {
            if (!checking)
                checking = std::make_unique<reports::CsvImport>(files, card);
            reports::CsvImport &import = *checking;
            bool checked = false;
            QString failed =
                app::expectedFailureOf([&] { checked = import.check(progressOf(&f, QStringLiteral("CSV取込の確認中…"))); });
            if (failed.isEmpty() && !checked)
                return; // stopped
            if (!failed.trimmed().isEmpty()) {
                app::showWarning(failed);
                return;
            }
            QString summary = changed + reports::csvImportSummaryText(import.summary());
            if (!card.isEmpty())
                summary += QStringLiteral("すべての行をカードNO:[") + card + QStringLiteral("]で取り込みます。\n");
            if (import.summary().added == 0) {
                app::showInfo(summary + QStringLiteral("新しい利用履歴はありません。何も取り込みません。"));
                return;
            }
            const ImportChoice choice = askImport(import.summary(), card, suggested);
            if (!choice.import)
                return;
            if (choice.oneCard != card) {
                // Another filing: checked again under it and asked again.
                card = choice.oneCard;
                checking.reset();
                changed.clear();
                continue;
            }
            qint64 added = 0;
            bool filesChanged = false;
            failed = app::expectedFailureOf([&] {
                try {
                    added = import.write(progressOf(&f, QStringLiteral("CSV取込中…")));
                } catch (const reports::CsvFilesChanged &) {
                    filesChanged = true;
                }
            });
            if (filesChanged) {
                // What was agreed to is no longer in the files: the new
                // contents are checked and asked about again.
                changed = QStringLiteral("確認した後でCSVファイルが変更されたため、何も取り込んでいません。"
                                         "変更後の内容を確認し直しました。\n\n");
                continue;
            }
            if (!failed.trimmed().isEmpty()) {
                app::showWarning(failed);
                return;
            }
            if (!failed.isEmpty() || added < 0)
                return; // stopped: the history is as it was
            fillCardNumbers(f);
            enableDBReadIfHistory(f);
            app::showInfo(QStringLiteral("CSV取込が完了しました。") + app::groupedNumber(added) +
                               QStringLiteral("件の利用履歴を取り込みました。"));
            return;
        }
    });
}

} // namespace ui
