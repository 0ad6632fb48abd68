#include "ui/BackupOperations.h"

#include "app/Common.h"
#include "app/Constants.h"
#include "app/Seams.h"
#include "history/Database.h"
#include "history/HistoryBackup.h"
#include "history/HistoryRestore.h"
#include "ui/Commands.h"
#include "ui/MainWindow.h"
#include "ui/Progress.h"
#include "ui/CommandGuard.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>

namespace ui {

namespace {

OpenBackupFileHandler g_openBackup;

const QString kFilter = QStringLiteral("利用履歴ファイル (*.sqlite);;すべてのファイル (*.*)");

QString askBackupFile(const QString &folder)
{
    if (g_openBackup)
        return g_openBackup(folder);
    QFileDialog::Options options;
#ifndef Q_OS_WIN
    options |= QFileDialog::DontUseNativeDialog; // Qt's dialog speaks Japanese
#endif
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), QStringLiteral("戻すバックアップ"), folder, kFilter,
                                        nullptr, options);
}

} // namespace

void setOpenBackupFileHandler(OpenBackupFileHandler handler) { g_openBackup = std::move(handler); }

void backUpHistory(MainWindow &f)
{
    guarded(app::Procedure::BackUpHistory, [&] {
        const QString history = history::databasePath(kDatFile);
        const QString suggested = QDir(history::backupFolder(history))
                                      .filePath(QStringLiteral("ETC_DAT-") +
                                                seams::now().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                                                QStringLiteral(".sqlite"));
        const QString target = seams::askSaveFileName(QStringLiteral("利用履歴のバックアップ"), suggested, kFilter);
        if (target.isEmpty())
            return;
        if (const QString refusal = history::copyTargetRefusal(history, target); !refusal.isEmpty()) {
            app::showWarning(refusal);
            return;
        }
        if (QFileInfo(target).isFile()) {
            // An earlier copy may be replaced, nothing else.
            const QString kind = history::whyNotRestorable(target);
            if (kind.contains(QStringLiteral("利用履歴ファイルではありません")) || kind.contains(QStringLiteral("読めません"))) {
                app::showWarning(QStringLiteral("'%1' は利用履歴のバックアップではないため、置き換えません。別のファイル名を"
                                                "指定してください。")
                                     .arg(QDir::toNativeSeparators(target)));
                return;
            }
            if (!app::askYesNoDefaultNo(QStringLiteral("'%1' は既にあります。置き換えますか?").arg(QDir::toNativeSeparators(target))))
                return;
        }
        bool stopped = false;
        const auto progress = progressOf(&f, QStringLiteral("バックアップ中…"));
        const QString why = history::copyHistoryFile(history, target, [&](qint64 done, qint64 total) {
            return !(stopped = !progress(done, total));
        });
        if (stopped)
            return; // the user's own stop: nothing written, nothing to say
        if (!why.isEmpty()) {
            app::showWarning(why);
            return;
        }
        app::showInfo(QStringLiteral("利用履歴を %1 に保存しました。").arg(QDir::toNativeSeparators(target)));
    });
}

void restoreHistoryFromBackup(MainWindow &f)
{
    guarded(app::Procedure::RestoreHistory, [&] {
        const QString history = history::databasePath(kDatFile);
        if (cardReadNotRegistered(f) &&
            !app::askYesNoDefaultNo(QStringLiteral("カードから読み込んだ利用履歴がDB登録されていません。戻すと、読み込んだ利用履歴は"
                                                   "失われます。続けますか?")))
            return;
        const QString file = askBackupFile(history::backupFolder(history));
        if (file.isEmpty())
            return;
        if (!app::askYesNoDefaultNo(QStringLiteral("%1 を利用履歴に戻します。今の利用履歴は、先に backup フォルダーに保存します。"
                                                   "よろしいですか?")
                                        .arg(QDir::toNativeSeparators(file))))
            return;
        // The window lets go of the history for the restore, and takes it
        // again afterwards, whatever became of it.
        f.TimerPolling->stop();
        history::stopDailyBackup();
        history::closeDatabase(kDatFile);
        QString kept;
        QStringList dropped;
        bool stopped = false;
        const auto progress = progressOf(&f, QStringLiteral("利用履歴を戻しています…"));
        const QString why = history::restoreHistoryFile(file, history, seams::now(), &kept, {}, &dropped,
                                                        [&](qint64 done, qint64 total) {
                                                            return !(stopped = !progress(done, total));
                                                        });
        history::openDatabase(kDatFile);
        emptyStagingAndGrid(f);
        fillCardNumbers(f);
        enableDBReadIfHistory(f);
        restartPolling(f);
        if (!why.isEmpty()) {
            if (!stopped)
                app::showWarning(why);
            return;
        }
        QString done = QStringLiteral("%1 を利用履歴に戻しました。").arg(QDir::toNativeSeparators(file));
        if (!kept.isEmpty())
            done += QStringLiteral("\r\nそれまでの利用履歴は %1 に保存しました。").arg(QDir::toNativeSeparators(kept));
        for (const QString &d : std::as_const(dropped))
            done += QStringLiteral("\r\nPASSLOG が作らないもの(%1)は取り除きました。").arg(d);
        app::showInfo(done);
    });
}

} // namespace ui
