#include "ui/DesktopDialogs.h"

#include "app/QtTranslations.h"
#include "app/Seams.h"
#include "ui/ReportOperations.h"

#include <QApplication>
#include <QFileDialog>
#include <QAbstractButton>
#include <QMessageBox>
#include <QRegularExpression>

namespace ui {

namespace {

seams::MsgAnswer realMessageBox(const seams::Message &m)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(m.title);
    box.setText(m.text);
    switch (m.icon) {
    case seams::MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case seams::MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case seams::MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    switch (m.buttons) {
    case seams::MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case seams::MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case seams::MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    const QMessageBox::StandardButton order[] = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
    for (qsizetype i = 0; i < m.buttonTexts.size() && i < 3; ++i)
        if (QAbstractButton *b = box.button(order[i]))
            b->setText(m.buttonTexts[i]);
    if (m.defaultButton) {
        switch (*m.defaultButton) {
        case seams::MsgAnswer::Ok: box.setDefaultButton(QMessageBox::Ok); break;
        case seams::MsgAnswer::Yes: box.setDefaultButton(QMessageBox::Yes); break;
        case seams::MsgAnswer::No: box.setDefaultButton(QMessageBox::No); break;
        case seams::MsgAnswer::Cancel: box.setDefaultButton(QMessageBox::Cancel); break;
        }
    }
    box.setModal(true);
    switch (box.exec()) {
    case QMessageBox::Yes: return seams::MsgAnswer::Yes;
    case QMessageBox::No: return seams::MsgAnswer::No;
    case QMessageBox::Cancel: return seams::MsgAnswer::Cancel;
    default: return m.buttons == seams::MsgButtons::YesNo ? seams::MsgAnswer::No : seams::MsgAnswer::Ok;
    }
}

// The extension of the filter's first pattern ("csv" for "CSVファイル (*.csv);;…").
QString defaultSuffixOf(const QString &filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    return pattern.match(filter.section(QStringLiteral(";;"), 0, 0)).captured(1);
}

QString realSaveFileDialog(const QString &caption, const QString &initialPath, const QString &filter)
{
    QFileDialog dialog(QApplication::activeWindow(), caption, initialPath, filter);
    dialog.setObjectName(QStringLiteral("SaveFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without an extension gets the one of the chosen type.
    dialog.setDefaultSuffix(defaultSuffixOf(filter));
    // The overwrite question is the program's own (Yes / No to append / Cancel).
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
#ifndef Q_OS_WIN
    // The desktop's own dialog would speak the session's language; Qt's speaks Japanese.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
#endif
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

void installDesktopDialogs()
{
    app::installQtTranslations();
    seams::setMessageBoxHandler(realMessageBox);
    seams::setSaveFileHandler(realSaveFileDialog);
    installRealPrinterList();
    installRealPrintQuestion();
}

} // namespace ui
