#include "app/DataFolder.h"

#include "app/Seams.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#ifndef PASSLOG_SHARED_DATA_FROM_BIN
#define PASSLOG_SHARED_DATA_FROM_BIN "../share/passlog"
#endif

bool app::folderIsWritable(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    // Permission bits do not tell the whole story (ACLs, read-only mounts,
    // the administrator's rights): only a real file does.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".passlog-write-test-XXXXXX")));
    return probe.open();
}

QString app::userDataFolder() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }

QString app::dataFolder()
{
    const QString program = seams::programFolder();
    if (app::folderIsWritable(program))
        return QDir::toNativeSeparators(program);
    const QString user = app::userDataFolder();
    if (user.isEmpty())
        return QDir::toNativeSeparators(program);
    if (!QFileInfo(user).isDir() && QDir().mkpath(user))
        QFile::setPermissions(user, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return QDir::toNativeSeparators(user);
}

QStringList app::shippedDataFolders()
{
    const QString program = seams::programFolder();
    return {QDir::toNativeSeparators(program),
            QDir::toNativeSeparators(QDir::cleanPath(QDir(program).filePath(QStringLiteral(PASSLOG_SHARED_DATA_FROM_BIN))))};
}
