#pragma once
// The desktop print window "卓上プリンタ印刷": the records of the main grid's
// view with their printed marks; the user selects rows and prints them on the
// desktop printer behind the relay unit. While it is open the reader polling
// stops; closing it re-establishes the reader link and restarts the polling.

#include "deskprint/DesktopPrint.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ui {

class MainWindow;

class FrameControl;

class DesktopPrintDialog : public QDialog { // was frmPrintDesktop
    Q_OBJECT
public:
    // A dialog of the main window, which it updates.
    explicit DesktopPrintDialog(MainWindow &window);

    // Client area in pixels (12135 x 7590 twips).
    static constexpr int kClientWidth = 809;
    static constexpr int kClientHeight = 506;

    FrameControl *fraListView = nullptr;
    QTreeWidget *ListView = nullptr;
    QLabel *lblText = nullptr;
    QLabel *lblAttention = nullptr;
    QCheckBox *chkPrint = nullptr;
    QPushButton *cmdPrint = nullptr;
    QPushButton *cmdExit = nullptr;

    // The load event: polling off, relay mode direct, the list filled.
    void load();
    // True while a print run is going on.
    bool printing() const { return m_printing; }

    // Closing the window (cmdExit, the title bar, Escape) runs the unload
    // event once; it is refused while a print run is going on.
    void done(int result) override;

private:
    void setPrinting(bool printing);
    void unload();
    void printChosenRows();
    void printedMarksToggled();
    void rowChecked(QTreeWidgetItem *item);
    void fillList(const history::BoundStatement &list);
    void refill();

    bool m_printing = false;
    bool m_unloaded = false;
    MainWindow &m_window;
};

// 卓上印刷 (btnPrintDesktop, mnuPrintDesktop): the desktop print window, modal
// (was basMain_PrintDesktop).
void printOnDesktopPrinter(MainWindow &window);

} // namespace ui
