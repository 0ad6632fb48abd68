#pragma once
// The offscreen main window started against the reader emulator (port 1 via
// the settings file's device key), with the buttons clicked as a user would
// and the message boxes answered from the harness queue.

#include "app/RunSettings.h"
#include "../../tools/reader-emulator/EmulatorProcess.h"
#include "../support/LineWait.h"
#include "../history/HistoryFixture.h"
#include "start/Startup.h"
#include "reader/PortDevice.h"
#include "history/HistoryGridModel.h"
#include "history/ViewCondition.h"
#include "ui/FrameControl.h"
#include "ui/MainWindow.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

inline const QString kSampleCard = QStringLiteral(PASSLOG_SOURCE_DIR "/data/sample-card.txt");

// Emulator arguments: a reader with this card (none: a card without records) inserted and readable.
inline QStringList readerWith(const QString &card = kSampleCard, const QStringList &more = {})
{
    QStringList args{QStringLiteral("--quiet"), QStringLiteral("--state"), QStringLiteral("readable")};
    if (!card.isEmpty())
        args << QStringLiteral("--card") << card;
    return args + more;
}

class Flow {
public:
    TestHarness harness;
    EmulatorProcess emulator;
    ui::MainWindow *w = nullptr;

    explicit Flow(const QStringList &emulatorArgs = readerWith()) : emulator(emulatorArgs)
    {
        seams::setPortDeviceHandler({});
        QFile ini(harness.settingsFile());
        if (ini.open(QIODevice::WriteOnly))
            ini.write(QStringLiteral("[PASSLOG]\r\nViewSort=NEW\r\n[RS232C]\r\nComPort=1\r\nDevice1=%1\r\n")
                          .arg(emulator.link())
                          .toUtf8());
        app::runSettings().programFolder = harness.programFolder() + QLatin1Char('/');
    }
    ~Flow()
    {
        if (w) {
            w->TimerPolling->stop();
            delete w;
        }
        start::releaseSingleInstance();
    }

    // History rows present before the program starts.
    void seedHistory(const QString &card, int rows)
    {
        history::openDatabase(kDatFile);
        for (int i = 0; i < rows; ++i)
            addHistoryRow(card, QStringLiteral("2024/01/%1").arg(i + 1, 2, 10, QLatin1Char('0')),
                          QStringLiteral("12:00:00"), QStringLiteral("%1円").arg(100 * (i + 1)));
    }

    // Runs the start sequence and shows the window; false if the emulator is missing.
    bool start()
    {
        if (!emulator.started())
            return false;
        w = start::loadMainWindow();
        w->show();
        w->activateWindow();
        // The start's first polling sequence talks to the reader meanwhile.
        return QTest::qWaitForWindowActive(w) && waitForLine();
    }

    // Clicks a button as the user does; false if it is disabled.
    static bool click(QPushButton *b)
    {
        if (!b->isEnabled())
            return false;
        QTest::mouseClick(b, Qt::LeftButton);
        return true;
    }
    bool clickYes(QPushButton *b)
    {
        harness.queueAnswer(seams::MsgAnswer::Yes);
        return click(b);
    }

    // The card read once the polling has seen the readable card.
    bool readCard()
    {
        if (!QTest::qWaitFor([this] { return w->btnCardRead->isEnabled(); }, 3000))
            return false;
        harness.clearMessages();
        return click(w->btnCardRead) && QTest::qWaitFor([this] { return !w->cardReadRunning(); }, 30000);
    }

    // Types into the card-number box and leaves it, as the user does.
    void typeCardNumber(const QString &text)
    {
        QTest::mouseClick(w->txtCardInput, Qt::LeftButton);
        w->txtCardInput->selectAll();
        QTest::keyClick(w->txtCardInput, Qt::Key_Delete);
        QTest::keyClicks(w->txtCardInput, text);
        w->btnExit->setFocus();
    }

    bool registerAs(const QString &typed)
    {
        typeCardNumber(typed);
        harness.clearMessages();
        return clickYes(w->btnDBEntry);
    }

    // Opens the card-number list and chooses an entry, as the user does.
    void selectListEntry(const QString &card)
    {
        QComboBox *list = w->cboCardSelect;
        QTest::mouseClick(list, Qt::LeftButton);
        QAbstractItemView *popup = list->view();
        QTRY_VERIFY(popup->isVisible());
        popup->setCurrentIndex(popup->model()->index(list->findText(card), 0));
        QTest::keyClick(popup, Qt::Key_Return);
        QTRY_VERIFY(!popup->isVisible());
    }

    // Range mode with the pickers set to start..end.
    void selectRange(const QDateTime &start, const QDateTime &end)
    {
        QTest::mouseClick(w->optSelectMode[1], Qt::LeftButton);
        w->dtpDateStart->setDate(start.date());
        w->dtpTimeStart->setTime(start.time());
        w->dtpDateEnd->setDate(end.date());
        w->dtpTimeEnd->setTime(end.time());
    }
    void selectAllRecords() { QTest::mouseClick(w->optSelectMode[0], Qt::LeftButton); }

    // The cells of one grid column, top to bottom.
    QStringList gridColumn(const QString &header) const
    {
        auto *model = qobject_cast<history::HistoryGridModel *>(w->MSHFlexGrid->model());
        QStringList cells;
        const int c = model ? int(model->headers().indexOf(header)) : -1;
        for (int r = 0; c >= 0 && r < model->rowCount(); ++r)
            cells << model->cell(r, c);
        return cells;
    }
    int gridRows() const { return w->MSHFlexGrid->model() ? w->MSHFlexGrid->model()->rowCount() : 0; }

    // Rows of the history table, of one card or of all, passed in a month ("2024/04") or at any time.
    static int historyRows(const QString &card = QString(), const QString &month = QString())
    {
        QSqlQuery q(history::database(DbConnection::History));
        q.prepare(QStringLiteral("SELECT count(*) FROM ETC_DATA WHERE (? = '' OR CARD_ID = ?) "
                                 "AND (? = '' OR substr(PASS_DATE, 1, 7) = ?)"));
        for (const QString &v : {card, card, month, month})
            q.addBindValue(v.isNull() ? QStringLiteral("") : v);
        return q.exec() && q.next() ? q.value(0).toInt() : -1;
    }
    // Distinct passage moments of one card's history rows.
    static int historyMoments(const QString &card)
    {
        return column(QStringLiteral("SELECT count(*) FROM (SELECT DISTINCT PASS_DATE, PASS_TIME FROM ETC_DATA "
                                     "WHERE CARD_ID = '") + card + QStringLiteral("')")).value(0).toInt();
    }

    QStringList cardList() const
    {
        QStringList items;
        for (int i = 0; i < w->cboCardSelect->count(); ++i)
            items << w->cboCardSelect->itemText(i);
        return items;
    }

    // The command states as ten characters: カード読込, 画面消去, DB登録, DB読込,
    // DB削除, 標準印刷, 卓上印刷, CSV出力 (each with its menu item; 'x' when button
    // and menu item disagree), mnuRecordCheck, mnuRecordDelete.
    QString commandStates() const
    {
        auto bit = [](bool on) { return on ? QLatin1Char('1') : QLatin1Char('0'); };
        auto pair = [](QPushButton *b, QAction *a) {
            return b->isEnabled() != a->isEnabled() ? QLatin1Char('x') : b->isEnabled() ? QLatin1Char('1')
                                                                                           : QLatin1Char('0');
        };
        QString s;
        for (QPushButton *b : {w->btnCardRead, w->btnViewCls, w->btnDBEntry, w->btnDBRead, w->btnDBDelete})
            s += bit(b->isEnabled());
        s += pair(w->btnPrintDefault, w->mnuPrintDefault);
        s += pair(w->btnPrintDesktop, w->mnuPrintDesktop);
        s += pair(w->btnCSVOutput, w->mnuCSVOutput);
        s += bit(w->mnuRecordCheck->isEnabled());
        s += bit(w->mnuRecordDelete->isEnabled());
        return s;
    }

    // Conditions and menus usable again, progress bar gone, polling at 1 s.
    bool idle() const
    {
        for (QWidget *c : {(QWidget *)w->optCardNo[0], (QWidget *)w->optSelectMode[1], (QWidget *)w->cboCardSelect,
                           (QWidget *)w->txtCardInput, (QWidget *)w->dtpDateEnd})
            if (!c->isEnabled())
                return false;
        return w->mnuEdit->isEnabled() && w->mnuConfig->isEnabled() && w->mnuHelp->isEnabled() &&
               w->mnuCSVImport->isEnabled() &&
               w->ProgressBar->isHidden() && w->TimerPolling->isActive() && w->TimerPolling->interval() == 1000;
    }
};

#define FLOW_START(f) QVERIFY2((f).start(), "reader emulator or main window did not start")
