#include "start/Demo.h"

#include "start/Startup.h"

#include "app/DataFolder.h"
#include "app/Settings.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/Database.h"
#include "reader/PortDevice.h"
#include "ui/MainWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLockFile>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <memory>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

namespace start {

namespace {
const QString kDemoHistoryPrefix = QStringLiteral("passlog-demo-history-");
const QString kDemoLockName = QStringLiteral("demo.lock");

void removeAbandonedDemoHistories(const QString &runtime)
{
    const QDir folder(runtime);
    for (const QString &name : folder.entryList({kDemoHistoryPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString path = folder.filePath(name);
        QLockFile lock(QDir(path).filePath(kDemoLockName));
        lock.setStaleLockTime(0); // stale once its process is gone
        if (!lock.tryLock(0))
            continue; // a demo that runs
        lock.unlock();
        QDir(path).removeRecursively();
    }
}

QString firstExisting(const QStringList &folders, const QStringList &names)
{
    for (const QString &folder : folders)
        for (const QString &name : names) {
            const QFileInfo file(QDir(folder).filePath(name));
            if (file.isFile() && (name.endsWith(QLatin1String(".txt")) || file.isExecutable()))
                return file.absoluteFilePath();
        }
    return {};
}
} // namespace

QCommandLineOption demoOption()
{
    return QCommandLineOption(QStringLiteral("demo"),
                              QStringLiteral("カードリーダーなしで試します: 付属の読取機エミュレーターにサンプルカードを入れて起動します"
                                              "（設定ファイルは変更しません）。"));
}

QStringList demoFolders() { return app::shippedDataFolders(); }

DemoFiles findDemoFiles(const QStringList &folders)
{
    DemoFiles files;
    files.emulator = firstExisting(folders, {QStringLiteral("passlog-reader-emulator"), QStringLiteral("reader-emulator"),
                                             QStringLiteral("tools/reader-emulator/reader-emulator")});
    if (files.emulator.isEmpty())
        files.emulator = QStandardPaths::findExecutable(QStringLiteral("passlog-reader-emulator"));
    files.card = firstExisting(folders, {QStringLiteral("sample-card.txt")});
    if (files.emulator.isEmpty())
        files.missing = QStringLiteral("読取機エミュレーター passlog-reader-emulator が見つかりません。");
    else if (files.card.isEmpty())
        files.missing = QStringLiteral("サンプルカード sample-card.txt が見つかりません（%1）。")
                            .arg(QDir::toNativeSeparators(folders.join(QStringLiteral(", "))));
    return files;
}

DemoSession::DemoSession(QObject *application) : QObject(application) {}

DemoSession::~DemoSession() { stop(); }

DemoSession *DemoSession::ofThisRun()
{
    QObject *application = QCoreApplication::instance();
    return application ? application->findChild<DemoSession *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

QString DemoSession::start(const DemoFiles &files)
{
    if (!files.missing.isEmpty())
        return files.missing;
    stop();
    // The runtime folder is the user's own (created owner-only by Qt); the
    // process id keeps two users' or two attempts' links apart.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return QStringLiteral("実行時フォルダーがありません。");
    const QString link =
        QDir(runtime).filePath(QStringLiteral("passlog-demo-reader-%1").arg(QCoreApplication::applicationPid()));

    auto emulator = std::make_unique<QProcess>();
    emulator->setProgram(files.emulator);
    emulator->setArguments({QStringLiteral("--link"), link, QStringLiteral("--card"), files.card,
                            QStringLiteral("--state"), QStringLiteral("readable"), QStringLiteral("--quiet")});
    emulator->setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef Q_OS_LINUX
    // Should the program die without its end sequence (killed, crashed), the
    // emulator gets the end signal from the kernel and removes its link.
    emulator->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    emulator->start();
    // Its first line names the device once the link is made.
    if (!emulator->waitForStarted(5000) || !emulator->waitForReadyRead(5000) || !emulator->canReadLine()) {
        emulator->kill();
        emulator->waitForFinished(2000);
        return QStringLiteral("読取機エミュレーター %1 を起動できません。").arg(QDir::toNativeSeparators(files.emulator));
    }
    emulator->readLine();
    // A history of the demo's own: what is tried goes neither into the
    // user's history nor to the shared history, and goes with the demo.
    removeAbandonedDemoHistories(runtime);
    const QString history = QDir(runtime).filePath(kDemoHistoryPrefix + QString::number(QCoreApplication::applicationPid()));
    QDir(history).removeRecursively();
    auto lock = std::make_unique<QLockFile>(QDir(history).filePath(kDemoLockName));
    if (!QDir().mkpath(history) || !lock->tryLock(0)) {
        emulator->kill();
        emulator->waitForFinished(2000);
        return QStringLiteral("デモ用の利用履歴フォルダー %1 を作成できません。").arg(QDir::toNativeSeparators(history));
    }
    QFile::setPermissions(history, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    history::usePrivateHistory(history);
    m_historyFolder = history;
    m_historyLock = std::move(lock);
    m_emulator = std::move(emulator);
    m_readerLink = link;
    app::holdSettingsFileForThisRun();
    reader::setConfiguredPortDeviceForThisRun(link);
    return {};
}

bool DemoSession::running() const { return m_emulator && m_emulator->state() != QProcess::NotRunning; }

void DemoSession::stop()
{
    if (!m_readerLink.isEmpty())
        reader::setConfiguredPortDeviceForThisRun(QString());
    if (!m_historyFolder.isEmpty()) {
        history::closeDatabase(kDatFile); // (closed already by the end sequence)
        history::usePrivateHistory(QString());
        m_historyLock.reset();
        QDir(m_historyFolder).removeRecursively();
        m_historyFolder.clear();
    }
    m_readerLink.clear();
    if (!m_emulator)
        return;
    if (m_emulator->state() != QProcess::NotRunning) {
        m_emulator->write("quit\n");
        if (!m_emulator->waitForFinished(2000)) {
            m_emulator->terminate();
            if (!m_emulator->waitForFinished(2000))
                m_emulator->kill();
            m_emulator->waitForFinished(2000);
        }
    }
    m_emulator.reset();
}

void markDemoWindow(ui::MainWindow *window)
{
    if (window)
        window->setWindowTitle(kAppTitle + QStringLiteral(" (デモ)"));
}

void readCardAndQuitWhenAsked(ui::MainWindow *shown)
{
    if (!qEnvironmentVariableIsSet("PASSLOG_DEMO_READ_AND_QUIT"))
        return;
    auto *poll = new QTimer(QCoreApplication::instance());
    auto waited = std::make_shared<int>(0);
    auto pressed = std::make_shared<bool>(false);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, waited, pressed, window = QPointer<ui::MainWindow>(shown)] {
        if (*pressed) {
            if (window && window->cardReadRunning())
                return; // the read talks to the reader
            poll->stop();
            // (The demo's history goes with it: the count read is told here.)
            std::fputs(qPrintable(QStringLiteral("カード読込: ") +
                                  app::recordCountText(window ? window->shownCount() : 0) + QLatin1Char('\n')),
                       stdout);
            std::fflush(stdout);
            endForSessionEnd();
            return;
        }
        const bool offered = window && window->btnCardRead->isEnabled();
        if (!offered && ++*waited < 150)
            return;
        if (!offered) {
            poll->stop();
            endForSessionEnd();
            return;
        }
        *pressed = true;
        window->btnCardRead->click();
    });
    poll->start(200);
}

} // namespace start
