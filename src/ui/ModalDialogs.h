#pragma once
// Where the window's dialogs wait for a person: a modal dialog runs through
// runModal, and a web address opens through openUrl. Tests replace both, so
// that a dialog can be driven without a nested event loop that waits for a
// person and no browser starts.

#include <QUrl>
#include <functional>

class QDialog;

namespace ui {

using ModalRunner = std::function<void(QDialog &dialog)>;
// An empty runner restores the real one (QDialog::exec).
void setModalRunner(ModalRunner runner);
void runModal(QDialog &dialog);

using UrlOpener = std::function<void(const QUrl &url)>;
// An empty opener restores the desktop's URL handler (QDesktopServices).
void setUrlOpener(UrlOpener opener);
void openUrl(const QUrl &url);

// A dialog's client area fixed to a size given in twips (15 a pixel), with a
// fixed border and neither minimize nor maximize button.
void fixDialogSize(QDialog &dialog, double widthTwips, double heightTwips);

} // namespace ui
