#include "ui/ModalDialogs.h"

#include "ui/Twips.h"

#include <QDesktopServices>
#include <QDialog>

namespace ui {

namespace {
ModalRunner g_runner;
UrlOpener g_opener;
} // namespace

void setModalRunner(ModalRunner runner) { g_runner = std::move(runner); }

void runModal(QDialog &dialog)
{
    dialog.setModal(true);
    if (g_runner)
        g_runner(dialog);
    else
        dialog.exec();
}

void setUrlOpener(UrlOpener opener) { g_opener = std::move(opener); }

void openUrl(const QUrl &url)
{
    if (g_opener)
        g_opener(url);
    else
        QDesktopServices::openUrl(url); // a missing browser is not the program's failure
}

void fixDialogSize(QDialog &dialog, double widthTwips, double heightTwips)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint);
    dialog.setFixedSize(twipsToPx(widthTwips), twipsToPx(heightTwips));
}

} // namespace ui
