#pragma once
// The version dialog: the program's version, the toll-gate master data's
// version and where newer master data is published.

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace ui {

// The address where newer toll-gate masters are published, when the office
// has one: MasterURL of [PASSLOG] in the settings file (http or https).
// Empty: the dialog shows no link.
QString masterDownloadUrl();

// "Ver " + major + "." + minor + revision, without leading zeros or a
// separator between minor and revision: 3.0.0.8 gives "Ver 3.08".
QString programVersionText(const QString &version);

class AboutDialog : public QDialog { // was frmAbout
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);

    QLabel *picIcon = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblVersionValue = nullptr;
    QLabel *lblMstVersion = nullptr;
    QLabel *lblMstVersionValue = nullptr;
    QLabel *lblFolders = nullptr;
    QLabel *lblInfo = nullptr;
    QLabel *lblURL = nullptr;
    QLabel *lblText = nullptr;
    QPushButton *cmdOK = nullptr;

    void load();
    void openMasterDataPage();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace ui
