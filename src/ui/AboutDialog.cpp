#include "ui/AboutDialog.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "history/Database.h"
#include "history/HistoryBackup.h"

#include "app/Version.h"
#include "app/Common.h"
#include "history/Duplicates.h"
#include "ui/Keyboard.h"
#include "ui/ModalDialogs.h"
#include "ui/Twips.h"
#include "ui/UiFonts.h"
#include "ui/CommandGuard.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QVersionNumber>

namespace ui {

QString programVersionText(const QString &version)
{
    const QVersionNumber v = QVersionNumber::fromString(version);
    return QStringLiteral("Ver ") + QString::number(v.majorVersion()) + QLatin1Char('.') +
           QString::number(v.minorVersion()) + QString::number(v.segmentAt(3));
}

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    picIcon = placeInDialog(new QLabel(this), "picIcon", 240, 240, 480, 480);
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    picIcon->setPixmap(icon.pixmap(32, 32));
    lblTitle = placeInDialog(new QLabel(this), "lblTitle", 960, 120, 5775, 300);
    QFont bold = pGothicFont(11.25);
    bold.setBold(true);
    lblTitle->setFont(bold);
    lblVersion = placeInDialog(new QLabel(QStringLiteral("プログラム"), this), "lblVersion", 960, 480, 1440, 255);
    lblVersionValue = placeInDialog(new QLabel(this), "lblVersionValue", 2520, 480, 1800, 255);
    lblMstVersion = placeInDialog(new QLabel(QStringLiteral("料金所マスター"), this), "lblMstVersion", 960, 780, 1440, 255);
    lblMstVersionValue = placeInDialog(new QLabel(this), "lblMstVersionValue", 2520, 780, 1800, 255);
    lblInfo = placeInDialog(new QLabel(QStringLiteral("Copyright (C) PASSLOG"), this), "lblInfo", 960, 1080, 4335, 255);
    lblURL = placeInDialog(new QLabel(this), "lblURL", 960, 1380, 4335, 255);
    QPalette blue = lblURL->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 0xFF));
    lblURL->setPalette(blue);
    lblURL->setCursor(Qt::PointingHandCursor);
    lblURL->installEventFilter(this);
    lblText = placeInDialog(new QLabel(QStringLiteral("※上記URLから最新の料金所マスターをダウンロードすることが出来ます。"), this),
                    "lblText", 120, 1740, 6615, 255);
    // Where the history and its copies are: what a user asked for a backup needs.
    lblFolders = placeInDialog(new QLabel(this), "lblFolders", 120, 2040, 6615, 510);
    lblFolders->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblFolders->setWordWrap(true);
    fixDialogSize(*this, 6855, 2640);
    cmdOK = placeInDialog(new QPushButton(QStringLiteral("OK"), this), "cmdOK", 5520, 480, 1215, 375);
    // Enter presses the default button, Escape closes a dialog.
    cmdOK->setDefault(true);
    pressFocusedButtonOnReturn(this);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    load();
}

QString masterDownloadUrl()
{
    const QString value =
        app::readProfileString(kSectionMain, QStringLiteral("MasterURL"), app::settingsFileName()).trimmed();
    const QUrl url(value, QUrl::StrictMode);
    return value != kIniMissing && url.isValid() &&
                   (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")) && !url.host().isEmpty()
               ? value
               : QString();
}

void AboutDialog::load()
{
    guarded(app::Procedure::LoadAbout, [this] {
        setWindowTitle(kAppTitle + QStringLiteral("のバージョン情報"));
        lblTitle->setText(QStringLiteral("利用履歴発行 ") + kAppTitle);
        lblVersionValue->setText(programVersionText(app::programVersion()));
        lblMstVersionValue->setText(history::masterVersionText());
        const QString url = masterDownloadUrl();
        lblURL->setText(url);
        lblURL->setVisible(!url.isEmpty());
        lblText->setVisible(!url.isEmpty());
        const QString history = history::databasePath(kDatFile);
        lblFolders->setText(QStringLiteral("データフォルダー: ") + QDir::toNativeSeparators(QFileInfo(history).absolutePath()) +
                            QStringLiteral("\nバックアップ: ") + QDir::toNativeSeparators(history::backupFolder(history)));
    });
}

bool AboutDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lblURL && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        openMasterDataPage();
    return QDialog::eventFilter(watched, event);
}

void AboutDialog::openMasterDataPage()
{
    guarded(app::Procedure::OpenMasterUrl, [this] { openUrl(QUrl(lblURL->text())); });
}

} // namespace ui
