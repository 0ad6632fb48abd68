#include "ui/PortSettingsDialog.h"
#include "app/RunSettings.h"

#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "reader/PortDevice.h"
#include "reader/ReaderSearch.h"
#include "reader/CardReader.h"
#include "ui/Commands.h"
#include "ui/FrameControl.h"
#include "ui/Keyboard.h"
#include "ui/ModalDialogs.h"
#include "ui/Twips.h"
#include "ui/UiFonts.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QPointer>
#include <QFileInfo>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace ui {

PortSettingsDialog::PortSettingsDialog(MainWindow &window) : QDialog(&window), m_window(window)
{
    setObjectName(QStringLiteral("frmSetComm"));
    setWindowTitle(QStringLiteral("通信ポート設定"));
    fixDialogSize(*this, 5175, 3135);
    lblText = placeInDialog(new QLabel(QStringLiteral("通信に使用するCOMポートを選択してください。\n"
                                              "機器が既に接続されている場合は、\n"
                                              "「自動設定」ボタンをクリックすると\n"
                                              "通信に使用するCOMポートを自動で設定します。"),
                               this),
                    "lblText", 120, 120, 4935, 975);
    lblPort = placeInDialog(new QLabel(QStringLiteral("COMポート："), this), "lblPort", 120, 1260, 1215, 330);
    cboPort = placeInDialog(new QComboBox(this), "cboPort", 1320, 1200, 1335, 360);
    btnETCSearch = placeInDialog(new QPushButton(QStringLiteral("自動設定"), this), "btnETCSearch", 2880, 1200, 1215, 375);
    lblDevice = placeInDialog(new QLabel(this), "lblDevice", 1320, 1620, 3735, 255);
    lblAttention = placeInDialog(new QLabel(QStringLiteral("※設定後は、必ず「決定」ボタンを押してください。"), this),
                         "lblAttention", 120, 2040, 4935, 255);
    QPalette red = lblAttention->palette();
    red.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
    lblAttention->setPalette(red);
    btnOK = placeInDialog(new QPushButton(QStringLiteral("決定"), this), "btnOK", 2520, 2520, 1215, 375);
    btnCancel = placeInDialog(new QPushButton(QStringLiteral("取消"), this), "btnCancel", 3840, 2520, 1215, 375);
    for (QPushButton *b : {btnETCSearch, btnOK, btnCancel})
        b->setAutoDefault(false);
    setTabOrderOf({cboPort, btnETCSearch, btnOK, btnCancel});
    pressFocusedButtonOnReturn(this);
#ifdef Q_OS_WIN
    lblDevice->hide();
#endif
    connect(cboPort, &QComboBox::currentIndexChanged, this, [this] { showDevice(); });
    connect(btnETCSearch, &QPushButton::clicked, this, [this] { searchReader(); });
    connect(btnOK, &QPushButton::clicked, this, [this] { useChosenPort(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    load();
}

void PortSettingsDialog::selectPort(int port)
{
    cboPort->setCurrentIndex(port >= 1 && port <= kMaxPortNumber ? port - 1 : -1);
    showDevice();
}

void PortSettingsDialog::showDevice()
{
#ifndef Q_OS_WIN
    const int index = cboPort->currentIndex();
    lblDevice->setText(index < 0 ? QString() : QStringLiteral("デバイス：") + seams::portDevice(index + 1));
#endif
}

namespace {
// The device a port number means, as a line of a message (Linux; Windows
// names its ports COMn itself).
QString deviceLine(int port)
{
#ifdef Q_OS_WIN
    Q_UNUSED(port);
    return {};
#else
    return QStringLiteral("\r\nデバイス: ") + seams::portDevice(port);
#endif
}

// What to do about a port that could not be opened: the device missing,
// not permitted to this user, or held by another program.
QString portNextStep(int port)
{
    const QString line = deviceLine(port);
#ifdef Q_OS_WIN
    Q_UNUSED(port);
    return QStringLiteral("\r\n機器の接続と、ポートを使っている他のプログラムがないかを確認してください。");
#else
    const QString device = seams::portDevice(port);
    const QFileInfo info(device);
    if (!info.exists())
        return line + QStringLiteral("\r\nこのデバイスはありません。機器の接続を確認するか、「自動設定」で探してください。");
    if (!info.isReadable() || !info.isWritable())
        return line + QStringLiteral("\r\nこのデバイスを使う権限がありません。利用者を dialout グループに加えて"
                                     "(sudo usermod -aG dialout ユーザー名)、ログインし直してください。");
    return line + QStringLiteral("\r\n他のプログラムがこのポートを使用中です。そのプログラムを終了してから、もう一度選んでください。");
#endif
}
} // namespace

void PortSettingsDialog::load()
{
    guarded(app::Procedure::LoadPortSettings, [this] {
        MainWindow &f = m_window;
        for (QPushButton *b : {f.btnViewCls, f.btnDBEntry, f.btnDBDelete})
            b->setEnabled(false);
        disableOutputCommands(m_window);
        f.mnuRecordCheck->setEnabled(false);
        // The grid goes back to the empty staging view; a duplicate view
        // ends with it, so its lock and its delete command end too.
        f.mnuRecordDelete->setEnabled(false);
        setConditionsEnabled(m_window, true);
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        emptyStagingAndGrid(m_window);
        m_window.view = {};

        cboPort->clear();
        for (int port = 1; port <= kMaxPortNumber; ++port)
            cboPort->addItem(QStringLiteral("Com") + QString::number(port));
        selectPort(app::comPortNumber());

        reader::connectionLost(0);
        f.TimerPolling->stop();
        reader::link().relayMode = reader::RelayMode::Direct;
        reader::closePort(app::comPortNumber());
    });
}

void PortSettingsDialog::searchReader()
{
    // The dialog waits for the search (a probe of every port) without
    // taking input; the search itself talks on the line meanwhile.
    m_searching = true;
    setEnabled(false);
    const bool searching = guarded(app::Procedure::SearchReader, [&] {
        reader::searchReader(app::comPortNumber(),
                             [dialog = QPointer<PortSettingsDialog>(this)](const reader::ReaderSearchResult &result) {
                                 if (!dialog)
                                     return;
                                 dialog->m_searching = false;
                                 dialog->setEnabled(true);
                                 dialog->showSearchResult(result);
                             });
        return true;
    });
    if (!searching) {
        m_searching = false;
        setEnabled(true);
    }
}

void PortSettingsDialog::showSearchResult(const reader::ReaderSearchResult &result)
{
    guarded(app::Procedure::SearchReader, [&] {
        if (result.tooMany())
            app::showWarning(QStringLiteral("複数の機器が見つかりました。") +
                                  QStringLiteral("利用しない機器の電源を切るかパソコンから取り外してください｡ "));
        else if (result.none())
            app::showWarning(QStringLiteral("機器が見つかりませんでした。") +
                                  QStringLiteral("パソコンとの接続または機器の電源が入っているか確認してください。"));
        selectPort(result.proposed);
        if (result.found.size() == 1) // what was found, and where
            app::showInfo(QStringLiteral("Com%1 に機器が見つかりました。").arg(result.proposed) + deviceLine(result.proposed) +
                               QStringLiteral("\r\n「決定」で、このポートを使います。"));
        cboPort->setFocus();
    });
}

void PortSettingsDialog::useChosenPort()
{
    guarded(app::Procedure::SavePortSettings, [this] {
        const int port = cboPort->currentIndex() + 1;
        if (!reader::portExists(port)) {
            app::showWarning(QStringLiteral("選択されたCom") + QString::number(port) +
                                  QStringLiteral("は存在しないか既に使用中のため選択できません。") + portNextStep(port));
            selectPort(app::comPortNumber());
            return;
        }
        const QString file = app::settingsFileName();
        if (app::fileExists(file)) {
            // Where the number means a device found among those present, the
            // device is written down, so that the number keeps its meaning
            // when adapters are plugged in another order.
            const QString device = seams::portDevice(port);
            app::runSettings().comPort = QString::number(port);
            app::saveSetting(kSectionPort, QStringLiteral("ComPort"), app::runSettings().comPort);
#ifndef Q_OS_WIN
            app::saveSetting(kSectionPort, QStringLiteral("Device") + app::runSettings().comPort, device);
#endif
            reader::pollReader();
        } else {
            app::showWarning(file + QStringLiteral(" が見つかりません。"));
        }
        accept();
    });
}

void PortSettingsDialog::unload()
{
    guarded(app::Procedure::ClosePortSettings, [this] {
        reader::link().relayMode = reader::RelayMode::Direct;
        restartPolling(m_window);
    });
}

void PortSettingsDialog::done(int result)
{
    // The search talks on the line with the dialog's port; the dialog
    // stays until it has shown what it found.
    if (m_searching)
        return;
    if (!m_unloaded) {
        m_unloaded = true;
        unload();
    }
    QDialog::done(result);
}

} // namespace ui
