#include "app/QtTranslations.h"

#include "app/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

QStringList qtTranslationFolders()
{
    return QStringList{QLibraryInfo::path(QLibraryInfo::TranslationsPath)} + shippedDataFolders();
}

QStringList installQtTranslations(const QStringList &folders)
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
    return loaded;
}
