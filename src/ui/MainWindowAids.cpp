#include "ui/MainWindowAids.h"

#include "app/DataFolder.h"
#include "app/Common.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QUrl>

namespace ui {

void addCommandMenu(MainWindow &w)
{
    auto *menu = new QMenu(QStringLiteral("操作(&O)"), &w);
    menu->setObjectName(QStringLiteral("mnuCommands"));
    w.menuBar()->insertMenu(w.mnuEdit->menuAction(), menu);
    struct Command {
        QPushButton *button;
        const char *name;
        QKeySequence keys;
    };
    const Command commands[] = {
        {w.btnCardRead, "mnuCardRead", QKeySequence(Qt::Key_F2)},
        {w.btnViewCls, "mnuViewCls", QKeySequence(Qt::Key_F3)},
        {w.btnDBEntry, "mnuDBEntry", QKeySequence(Qt::Key_F4)},
        {w.btnDBRead, "mnuDBRead", QKeySequence(Qt::Key_F5)},
        {w.btnDBDelete, "mnuDBDelete", QKeySequence(Qt::CTRL | Qt::Key_Delete)},
    };
    for (const Command &c : commands) {
        QAction *a = menu->addAction(c.button->text());
        a->setObjectName(QString::fromLatin1(c.name));
        a->setShortcut(c.keys);
        QObject::connect(a, &QAction::triggered, c.button, [b = c.button] {
            if (b->isEnabled())
                b->click();
        });
    }
    // F6: to the card number, typed (the box is six Shift+Tabs from DB登録).
    auto *toCardNumber = new QShortcut(QKeySequence(Qt::Key_F6), &w);
    toCardNumber->setObjectName(QStringLiteral("shortcutCardNumber"));
    QObject::connect(toCardNumber, &QShortcut::activated, &w, [&w] {
        if (!w.txtCardInput->isEnabled())
            return;
        w.optCardNo[0]->setChecked(true);
        w.txtCardInput->setFocus(Qt::ShortcutFocusReason);
        w.txtCardInput->selectAll();
    });
    // The file menu's commands show their shortcuts too.
    w.mnuCSVOutput->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    w.mnuCSVImport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    w.mnuPrintDefault->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    w.mnuPrintDesktop->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    w.mnuExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // An item is offered when its button is.
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, &w] {
        for (QAction *a : menu->actions())
            for (QPushButton *b : {w.btnCardRead, w.btnViewCls, w.btnDBEntry, w.btnDBRead, w.btnDBDelete})
                if (a->text() == b->text())
                    a->setEnabled(b->isEnabled());
    });
}

void addTooltips(MainWindow &w)
{
    w.optCardNo[0]->setToolTip(QStringLiteral("カードNOを右の欄に4桁の数字で入力します(DB登録はこのカードNOで行います)。"));
    w.txtCardInput->setToolTip(QStringLiteral("カードNO(4桁の数字)。12 と入力すると 0012 になります (F6)。"));
    w.optCardNo[1]->setToolTip(QStringLiteral("登録済みのカードNOを右の一覧から選びます。"));
    w.cboCardSelect->setToolTip(QStringLiteral("登録済みのカードNO。「0000」は全カードです(読込・印刷・CSV出力の対象が全カードになります)。"));
    w.optSelectMode[0]->setToolTip(QStringLiteral("期間を限らず、すべての利用履歴を対象にします。"));
    w.optSelectMode[1]->setToolTip(QStringLiteral("開始日時から終了日時までの利用履歴だけを対象にします(両端を含みます)。"));
    w.cmdDateStart->setToolTip(QStringLiteral("開始日時: この日時以降の利用履歴を対象にします。押すと今日の 0:00:00 にします。"));
    w.cmdDateEnd->setToolTip(QStringLiteral("終了日時: この日時までの利用履歴を対象にします。押すと今日の 23:59:59 にします。"));
    for (QWidget *d : {static_cast<QWidget *>(w.dtpDateStart), static_cast<QWidget *>(w.dtpTimeStart)})
        d->setToolTip(QStringLiteral("開始日時(この日時を含みます)"));
    for (QWidget *d : {static_cast<QWidget *>(w.dtpDateEnd), static_cast<QWidget *>(w.dtpTimeEnd)})
        d->setToolTip(QStringLiteral("終了日時(この日時を含みます)"));
    w.btnCardRead->setToolTip(QStringLiteral("カードの利用履歴を読み込んで表示します (F2)。"));
    w.btnViewCls->setToolTip(QStringLiteral("表示を消去します。DB登録していない読込結果は失われます (F3)。"));
    w.btnDBEntry->setToolTip(QStringLiteral("読み込んだ利用履歴をカードNOで登録します (F4)。"));
    w.btnDBRead->setToolTip(QStringLiteral("登録済みの利用履歴をカードNOと期間で表示します (F5)。"));
    w.btnDBDelete->setToolTip(QStringLiteral("表示している利用履歴を削除します (Ctrl+Delete)。"));
    w.btnPrintDefault->setToolTip(QStringLiteral("表示している利用履歴の明細表を印刷します (Ctrl+P)。"));
    w.btnPrintDesktop->setToolTip(QStringLiteral("卓上プリンタで1件ずつ印刷します (Ctrl+Shift+P)。"));
    w.btnCSVOutput->setToolTip(QStringLiteral("表示している利用履歴をCSVファイルに出力します (Ctrl+E)。"));
    w.btnExit->setToolTip(QStringLiteral("PASSLOG を終了します (Ctrl+Q)。"));
    // Greyed-out duplicate tools say how they come to be offered.
    w.mnuRecordCheck->setToolTip(QStringLiteral("カードNO「0000」(全カード)を選んでDB読込をすると使えます。"));
    w.mnuRecordDelete->setToolTip(QStringLiteral("重複レコード表示で重複が見つかると使えます。"));
    w.mnuEdit->setToolTipsVisible(true);
}

QString guideFile()
{
    for (const QString &folder : app::shippedDataFolders()) {
        const QString path = QDir(folder).filePath(QStringLiteral("passlog-guide.html"));
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

void addGuideMenuItem(MainWindow &w)
{
    QAction *guide = new QAction(QStringLiteral("使い方(&G)"), w.mnuHelp);
    guide->setObjectName(QStringLiteral("mnuGuide"));
    guide->setShortcut(QKeySequence(Qt::Key_F1));
    w.mnuHelp->insertAction(w.mnuAbout, guide);
    QObject::connect(guide, &QAction::triggered, &w, [] {
        const QString path = guideFile();
        if (path.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            app::showWarning(QStringLiteral("使い方のファイル(passlog-guide.html)を開けません。") +
                                  (path.isEmpty() ? QString() : QStringLiteral("\r\n") + QDir::toNativeSeparators(path)));
    });
}

} // namespace ui
