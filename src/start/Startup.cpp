#include "start/Startup.h"

#include "start/Demo.h"
#include "start/EndSignals.h"

#include "app/DataFolder.h"
#include "app/ProfileFile.h"
#include "app/Seams.h"
#include "app/Settings.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/HistoryBackup.h"
#include "history/HistoryCheck.h"
#include "history/Database.h"
#include "reader/CardReader.h"
#include "ui/Commands.h"
#include "ui/LineControl.h"
#include "ui/Progress.h"
#include "ui/ReportOperations.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLockFile>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QSessionManager>
#include <QTimer>
#include <climits>
#include <memory>

namespace start {

namespace {
constexpr int kMinTwipsPerPixel = 15;

std::unique_ptr<QLockFile> g_instanceLock;
// The main window loadMainWindow built last: the one the end of a session closes.
QPointer<ui::MainWindow> g_window;

// The window's place on the desktop (its frame's top left), kept in the
// settings file between runs.
const QPoint kNoPlace(INT_MIN, INT_MIN);
const QString kWindowLeft = QStringLiteral("WindowLeft");
const QString kWindowTop = QStringLiteral("WindowTop");

QPoint savedWindowPlace()
{
    bool leftOk = false, topOk = false;
    const int left = app::readProfileString(kSectionMain, kWindowLeft, app::settingsFileName()).toInt(&leftOk);
    const int top = app::readProfileString(kSectionMain, kWindowTop, app::settingsFileName()).toInt(&topOk);
    return leftOk && topOk ? QPoint(left, top) : kNoPlace;
}

// True when the window's area at place, with a frame around it (its title
// bar at least as high as the style's), lies wholly on one screen.
bool placeFits(const ui::MainWindow &window, const QPoint &place)
{
    const QMargins known(window.geometry().left() - window.frameGeometry().left(),
                         window.geometry().top() - window.frameGeometry().top(),
                         window.frameGeometry().right() - window.geometry().right(),
                         window.frameGeometry().bottom() - window.geometry().bottom());
    const int titleBar = qMax(known.top(), window.style()->pixelMetric(QStyle::PM_TitleBarHeight));
    const QRect frame = QRect(place, window.size()).marginsAdded(QMargins(known.left(), titleBar, known.right(), known.bottom()));
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen->availableGeometry().contains(frame))
            return true;
    return false;
}

void saveWindowPlace(const ui::MainWindow &window)
{
    // (Not worth a warning at the end when the settings file has gone.)
    if (!window.isVisible() || !QFileInfo::exists(app::settingsFileName()))
        return;
    // The window's own area, not its frame: a frame's place given back
    // before the window system has framed the window is taken as the
    // area's, which moved the window up one title bar at every start.
    const QPoint place = window.geometry().topLeft();
    if (place == savedWindowPlace())
        return;
    app::saveSetting(kSectionMain, kWindowLeft, QString::number(place.x()));
    app::saveSetting(kSectionMain, kWindowTop, QString::number(place.y()));
}

// The main window's size on the screen, its title bar included, in its own
// (scaled) pixels; its layout is fixed.
QSize windowFrameSize(const ui::MainWindow &window)
{
    const int titleBar = window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    return window.size() + QSize(0, titleBar);
}

// What the reader link finds out, shown in the window's labels and bar.
void connectReaderLink(ui::MainWindow *window)
{
    reader::ReaderLink &link = reader::link();
    QObject::connect(&link, &reader::ReaderLink::cardStateChanged, window->lblCardValue, &QLabel::setText);
    QObject::connect(&link, &reader::ReaderLink::recordCountChanged, window->lblCountValue, &QLabel::setText);
    // A poll that answers while a card read waits for the line (or runs)
    // does not offer a second read: one click, one read.
    QObject::connect(&link, &reader::ReaderLink::cardReadableChanged, window, [window](bool readable) {
        window->btnCardRead->setEnabled(readable && !window->cardReadRunning());
    });
    QObject::connect(&link, &reader::ReaderLink::readProgress, window->ProgressBar, &QProgressBar::setValue);
    // A relay unit found while the outputs are offered offers the desktop
    // print as well (the outputs may have been offered before it answered).
    QObject::connect(&link, &reader::ReaderLink::relayUnitFound, window, [window] {
        if (window->btnPrintDefault->isEnabled()) {
            window->btnPrintDesktop->setEnabled(true);
            window->mnuPrintDesktop->setEnabled(true);
        }
    });
    QObject::connect(&link, &reader::ReaderLink::sequenceFailed, window, [](const Failure &failure) {
        if (const auto *expected = dynamic_cast<const ExpectedFailure *>(&failure))
            app::showWarning(expected->description());
        else
            app::reportFailureAndEnd(failure, app::Procedure::PollReader);
    });
}
} // namespace

QString acquireSingleInstance()
{
    if (g_instanceLock)
        return {};
    const QString path = seams::instanceLockPath();
    auto lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0); // a lock left by a crashed run is stale once its process is gone
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError) // held by a running instance
            return kAppTitle + QStringLiteral("を複数起動することは出来ません。");
        // Anything else is not a second instance: say what is in the way.
        const QString folder = QFileInfo(path).absolutePath();
        const QString reason = !QFileInfo(folder).isDir()
                                   ? QStringLiteral("フォルダー '%1' がありません。").arg(QDir::toNativeSeparators(folder))
                               : lock->error() == QLockFile::PermissionError || !app::folderIsWritable(folder)
                                   ? QStringLiteral("フォルダー '%1' に書き込む権限がありません。")
                                         .arg(QDir::toNativeSeparators(folder))
                                   : QStringLiteral("ファイルを作成できません。");
        return kAppTitle + QStringLiteral("を起動できません。起動中の確認に使うロックファイル '%1' を作成できません: %2")
                               .arg(QDir::toNativeSeparators(path), reason);
    }
    // The lock names the user and the process: readable by its owner only.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    g_instanceLock = std::move(lock);
    return {};
}

void releaseSingleInstance() { g_instanceLock.reset(); }

ui::MainWindow *loadMainWindow()
{
    // Deleted again when the start sequence does not come back (a refusal
    // that ends the program).
    auto window = std::make_unique<ui::MainWindow>();
    ui::MainWindow *w = window.get();
    window->onLoad = [w] { startSequence(*w); };
    window->onUnload = [w] { endSequence(w); };
    window->confirmClose = [w] {
        return !ui::cardReadNotRegistered(*w) ||
               app::askYesNoDefaultNo(QStringLiteral("カードから読み込んだ利用履歴がDB登録されていません。"
                                                          "終了すると、読み込んだ利用履歴は失われます。終了しますか?"));
    };
    connectReaderLink(w);
    g_window = w;
    window->load();
    return window.release();
}

void endForSessionEnd()
{
    // Closing the main window runs the end sequence, as the exit commands do;
    // without a window (not built yet, already gone) it runs directly.
    if (ui::MainWindow *window = g_window) {
        window->confirmClose = nullptr; // the session ends: nothing is asked
        window->close();
    }
    endSequence(g_window);
}

void watchSessionEnd()
{
    // A logout or shutdown ends the program through its end sequence, so the
    // databases are closed (no write-ahead log left behind) and the lock is
    // released: the session manager's request to save (the last thing it
    // asks before it ends the session), the application's own quit, and on
    // Unix the signals a session, the system or a terminal send.
    watchEndSignals(endForSessionEnd);
#ifndef QT_NO_SESSIONMANAGER
    QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, qGuiApp,
                     [](QSessionManager &) { endForSessionEnd(); });
#endif
    QObject::connect(qGuiApp, &QCoreApplication::aboutToQuit, qGuiApp, [] { endForSessionEnd(); });
}

ui::MainWindow *showMainWindow()
{
    ui::MainWindow *window = nullptr;
    guarded(app::Procedure::ShowMainWindow, [&] {
        window = loadMainWindow();
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        // Where the user left it, when it is still wholly on a screen with
        // its title bar; otherwise centred on the screen, frame included.
        if (const QPoint saved = savedWindowPlace(); saved != kNoPlace && placeFits(*window, saved)) {
            window->setGeometry(QRect(saved, window->size()));
        } else if (window->screen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(window->screen()->availableGeometry().center());
            window->move(frame.topLeft());
        }
    });
    return window;
}

void dailyBackupTick(DailyBackupWatch &watch, const QString &historyPath)
{
    const QDate today = seams::now().date();
    if (today != watch.day) { // a window left open over midnight
        watch.day = today;
        watch.told = false;
        history::startDailyBackup(historyPath, today);
        return;
    }
    const QString failure = history::dailyBackupFailure();
    if (failure.isEmpty() || watch.told)
        return;
    watch.told = true;
    app::showWarning(QStringLiteral("今日の利用履歴のバックアップを作れませんでした。データフォルダーの backup フォルダーに"
                                    "書き込めるか確認してください。") +
                     QStringLiteral("\r\n\r\n") + failure);
}

namespace {
// The first start of a day keeps a copy of the history (not of a demo's
// own), in the background once the file has passed its check; a window
// open over midnight makes the next day's, and a copy that could not be
// made is told once.
void keepDailyBackups(ui::MainWindow &window)
{
    const QString path = history::databasePath(kDatFile);
    history::startDailyBackup(path, seams::now().date());
    auto *timer = new QTimer(&window);
    timer->setObjectName(QStringLiteral("TimerDailyBackup"));
    timer->setInterval(10'000);
    auto watch = std::make_shared<DailyBackupWatch>();
    watch->day = seams::now().date();
    QObject::connect(timer, &QTimer::timeout, &window, [watch, path] {
        guarded(app::Procedure::BackUpHistory, [&] { dailyBackupTick(*watch, path); });
    });
    timer->start();
}
} // namespace

void startSequence(ui::MainWindow &window)
{
    guarded(app::Procedure::StartProgram, [&] {
        if (const QString refused = acquireSingleInstance(); !refused.isEmpty()) {
            app::showWarning(refused);
            seams::endProgram(0);
        }
        checkScreen(window);
        drawMenuLine(window);
        app::readSettingsFile();
        initializeWindow(window);
        // After a quick start the file is checked in full in the background:
        // a write that comes first waits with progress, and damage found is
        // told at once (the file is then not written to).
        history::setCheckWaitHandler([w = QPointer<ui::MainWindow>(&window)] {
            return ui::busyProgressOf(w, QStringLiteral("利用履歴ファイルを確認中…"));
        });
        history::setDamageHandler([](const QString &damage) { app::showWarning(history::damagedHistoryText(damage)); });
        history::openDatabase(kDatFile);
        if (!history::usesPrivateHistory())
            keepDailyBackups(window);
        for (const QString &notice : history::takeSchemaNotices())
            app::showInfo(notice);
        history::openDatabase(kMstFile);
        // The status bar follows the shared history's server, whichever
        // operation found it there or away.
        history::setServerStateListener([w = QPointer<ui::MainWindow>(&window)] {
            if (w)
                ui::showServerState(*w);
        });
        ui::emptyStagingAndGrid(window);
        if (history::usesServer()) {
            // The window does not wait for the server: DB読込 is offered, the
            // card-number list holds "0000" until the server has answered
            // (in the background), and then the server's numbers.
            window.btnDBRead->setEnabled(true);
            window.cboCardSelect->clear();
            window.cboCardSelect->addItem(kNoCardNo);
            ui::showServerState(window);
            history::connectServerInBackground([w = QPointer<ui::MainWindow>(&window)] {
                if (w)
                    guarded(app::Procedure::StartProgram, [&w] { ui::refreshCardNumbersFromServer(*w); });
            });
        } else {
            ui::enableDBReadIfHistory(window);
        }
        ui::showSelectMode(window, 0);
        if (!history::usesServer())
            ui::fillCardNumbers(window); // card-number list
        window.optCardNo[0]->setChecked(true);
        ui::fillPrinterList(window);
        // Reader probe: a usable port gets its first polling sequence now.
        if (reader::portExists(app::comPortNumber()))
            reader::pollReader();
        else
            app::showWarning(QStringLiteral("指定されたCOMポートが存在しないか既に使用中ため機器に接続できません。"));
        window.TimerPolling->setInterval(kPollingIntervalMs);
        window.TimerPolling->start();
    });
}

void checkScreen(ui::MainWindow &window)
{
    guarded(app::Procedure::CheckScreen, [&] {
        const seams::ScreenMetrics m = seams::screenMetrics();
        // The window's layout is fixed in its own pixels. On a display that Qt
        // scales (125 %, 150 %, 200 %) the layout scales with the fonts, so
        // both checks are made in those logical pixels; fonts made larger
        // without the layout (a higher dpi at no scaling) are still refused.
        const double ratio = m.devicePixelRatio > 0 ? m.devicePixelRatio : 1.0;
        // Twips per logical pixel: 15 at 96 dpi, 12 at 120 dpi.
        const int twipsX = int(1440.0 * ratio / m.dpiX + 1e-6);
        const int twipsY = int(1440.0 * ratio / m.dpiY + 1e-6);
        if (twipsX < kMinTwipsPerPixel || twipsY < kMinTwipsPerPixel) {
            app::showWarning(QStringLiteral("フォントサイズを小さいフォントに変更してください。") +
                                  QStringLiteral("現在ご利用のフォントには対応しておりません｡"));
            seams::endProgram(0);
        }
        const qint16 width = qint16(qBound(-32768, qRound(m.widthPx / ratio), 32767));
        const qint16 height = qint16(qBound(-32768, qRound(m.heightPx / ratio), 32767));
        // The rule is there so that the window fits: it is judged by the
        // window itself, with its title bar, against the part of the screen
        // a window may take, both at the display's scale. (A fixed 1024 x 768
        // refused a 1920 x 1080 screen at 150 %, where the window fits.)
        const QSize room(qRound((m.availableWidthPx > 0 ? m.availableWidthPx : m.widthPx) / ratio),
                         qRound((m.availableHeightPx > 0 ? m.availableHeightPx : m.heightPx) / ratio));
        const QSize needed = windowFrameSize(window);
        if (needed.width() > room.width() || needed.height() > room.height()) {
            // A screen of that size at a high display scaling is big
            // enough: what helps there is a lower scaling.
            const bool scaled = ratio > 1.0 && m.widthPx >= 1024 && m.heightPx >= 768;
            app::showWarning(QStringLiteral("画面の領域を 1024 x 768 ピクセル以上に変更してください。") +
                             QString::number(width) + QStringLiteral(" x") + QString::number(height) +
                             QStringLiteral(" ピクセルでは、起動することが出来ません。") +
                             (scaled ? QStringLiteral("\r\n画面は十分な大きさです。ディスプレイの拡大率(現在 %1 %)を小さくしてください。")
                                           .arg(qRound(ratio * 100))
                                     : QString()));
            seams::endProgram(0);
        }
    });
}

void drawMenuLine(ui::MainWindow &f)
{
    guarded(app::Procedure::DrawFrameLines, [&] {
        const int inner = f.client->width();
        f.LineA->setLine(QPalette::Dark, 0, 0, inner);  // button shadow
        f.LineB->setLine(QPalette::Light, 0, 1, inner); // 3-D highlight, one pixel lower
        f.LineA->raise();
        f.LineB->raise();
    });
}

void initializeWindow(ui::MainWindow &f)
{
    guarded(app::Procedure::InitializeWindow, [&] {
        f.ProgressBar->hide();
        ui::disableOutputMenuItems(f);
        f.showTotals(0, 0);
        for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry, f.btnDBRead, f.btnDBDelete,
                               f.btnPrintDefault, f.btnPrintDesktop, f.btnCSVOutput})
            b->setEnabled(false);
        f.dtpDateStart->setDate(ui::todayStart().date());
        f.dtpDateEnd->setDate(ui::todayEnd().date());
        reader::link().relayMode = reader::RelayMode::Direct;
        reader::link().noReplyCount = 0;
        reader::link().sendToggle = 128;
    });
}

void endSequence(ui::MainWindow *window)
{
    guarded(app::Procedure::EndProgram, [&] {
        if (window) {
            window->TimerPolling->stop();
            saveWindowPlace(*window);
        }
        reader::link().dropSequences();
        reader::closePort(app::comPortNumber());
        history::stopDailyBackup(); // an unfinished copy is made again at the next start
        history::closeDatabase(kMstFile);
        history::closeDatabase(kDatFile);
        releaseSingleInstance();
        if (DemoSession *demo = DemoSession::ofThisRun())
            demo->stop();
        seams::endProgram(0);
    });
}

} // namespace start
