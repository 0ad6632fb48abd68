#include "ui/AboutDialog.h"

#include "app/Version.h"
#include "app/Common.h"
#include "history/Duplicates.h"
#include "ui/Keyboard.h"
#include "ui/ModalDialogs.h"
#include "ui/Twips.h"
#include "ui/UiFonts.h"

#include <QApplication>
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
    fixDialogSize(*this, 6855, 2070);
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
    lblURL = placeInDialog(new QLabel(kMasterDownloadUrl, this), "lblURL", 960, 1380, 4335, 255);
    QPalette blue = lblURL->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 0xFF));
    lblURL->setPalette(blue);
    lblURL->setCursor(Qt::PointingHandCursor);
    lblURL->installEventFilter(this);
    lblText = placeInDialog(new QLabel(QStringLiteral("※上記URLから最新の料金所マスターをダウンロードすることが出来ます。"), this),
                    "lblText", 120, 1740, 6615, 255);
    cmdOK = placeInDialog(new QPushButton(QStringLiteral("OK"), this), "cmdOK", 5520, 480, 1215, 375);
    // Enter presses the default button, Escape closes a dialog.
    cmdOK->setDefault(true);
    pressFocusedButtonOnReturn(this);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    load();
}

void AboutDialog::load()
{
    guarded("frmAbout_Form_Load", [this] {
        setWindowTitle(kAppTitle + QStringLiteral("のバージョン情報"));
        lblTitle->setText(QStringLiteral("利用履歴発行 ") + kAppTitle);
        lblVersionValue->setText(programVersionText(app::programVersion()));
        lblMstVersionValue->setText(history::masterVersionText());
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
    guarded("frmAbout_lblURL_Click", [this] { openUrl(QUrl(lblURL->text())); });
}

} // namespace ui
