#include "app/QtTranslations.h"

#include "app/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// The file types of the file dialog's list: Qt 6 names their context
// QAbstractFileIconProvider, which Debian's qtbase_ja.qm does not have yet.
class FileTypeTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const QHash<QByteArray, QString> texts{
            {"Folder", QStringLiteral("フォルダ")},   {"File Folder", QStringLiteral("フォルダ")},
            {"%1 File", QStringLiteral("%1 ファイル")}, {"File", QStringLiteral("ファイル")},
            {"Drive", QStringLiteral("ドライブ")},     {"Alias", QStringLiteral("エイリアス")},
            {"Shortcut", QStringLiteral("ショートカット")}, {"Unknown", QStringLiteral("不明")}};
        return texts.value(QByteArray(sourceText));
    }
};

} // namespace

QStringList app::qtTranslationFolders()
{
    return QStringList{QLibraryInfo::path(QLibraryInfo::TranslationsPath)} + app::shippedDataFolders();
}

QStringList app::installQtTranslations(const QStringList &folders)
{
    static QStringList loaded;
    if (!loaded.isEmpty())
        return loaded;
    for (const QString &catalogue : kQtCatalogues) {
        for (const QString &folder : folders) {
            const QString file = QDir(folder).filePath(catalogue);
            auto translator = new QTranslator(QCoreApplication::instance());
            if (QFileInfo::exists(file) && translator->load(file) && QCoreApplication::installTranslator(translator)) {
                loaded << QDir::cleanPath(file);
                break;
            }
            delete translator;
        }
    }
    if (!loaded.isEmpty())
        QCoreApplication::installTranslator(new FileTypeTexts(QCoreApplication::instance()));
    return loaded;
}
