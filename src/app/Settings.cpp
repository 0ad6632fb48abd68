#include "app/Settings.h"
#include "app/RunSettings.h"

#include "app/DataFolder.h"
#include "app/ProfileFile.h"
#include "app/Seams.h"
#include "app/Common.h"
#include "app/Constants.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

QString app::settingsFileName()
{
    return app::withTrailingSeparator(app::runSettings().programFolder) + seams::programBaseName() + QStringLiteral(".ini");
}

void app::holdSettingsFileForThisRun() { app::runSettings().fileHeld = true; }
bool app::settingsFileHeldForThisRun() { return app::runSettings().fileHeld; }

static QString desktopFolder()
{
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

void app::readSettingsFile()
{
    app::tagged(app::Procedure::ReadSettingsFile, [] {
        // The program folder, or the user's data folder when the program may
        // not write its own (an installation for all users).
        app::runSettings().programFolder = app::withTrailingSeparator(app::dataFolder());

        // The per-user store only records where the program was last started from.
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, kAppTitle, kAppTitle);
        store.setValue(QStringLiteral("PATH/vUP"), app::runSettings().programFolder);
        store.sync();

        // The desktop, or the data folder where the desktop does not exist.
        const QString desktop = desktopFolder();
        app::runSettings().csvFolder = desktop.isEmpty() || !QFileInfo(desktop).isDir() ? app::runSettings().programFolder
                                                                                  : app::withTrailingSeparator(desktop);
        app::runSettings().viewSort = QStringLiteral("NEW");
        app::runSettings().comPort = QStringLiteral("1");

        const QString file = app::settingsFileName();
        if (app::fileExists(file)) {
            if (!app::runSettings().fileHeld)
                app::writeProfileString(kSectionMain, QStringLiteral("AppPath"), app::runSettings().programFolder, file);
            auto readInto = [&](const QString &section, const char *key, QString &target) {
                const QString v = app::readProfileString(section, QString::fromLatin1(key), file);
                if (v != kIniMissing)
                    target = v;
            };
            readInto(kSectionMain, "CSVPath", app::runSettings().csvFolder);
            readInto(kSectionMain, "ViewSort", app::runSettings().viewSort);
            readInto(kSectionPort, "ComPort", app::runSettings().comPort);
        } else {
            app::writeProfileString(kSectionMain, QStringLiteral("AppPath"), app::runSettings().programFolder, file);
            app::writeProfileString(kSectionMain, QStringLiteral("CSVPath"), app::runSettings().csvFolder, file);
            app::writeProfileString(kSectionMain, QStringLiteral("ViewSort"), app::runSettings().viewSort, file);
            app::writeProfileString(kSectionPort, QStringLiteral("ComPort"), app::runSettings().comPort, file);
        }
    });
}

bool app::saveSetting(const QString &section, const QString &key, const QString &value)
{
    const QString file = app::settingsFileName();
    if (!app::fileExists(file)) {
        app::showWarning(file + QStringLiteral(" が見つかりません。"));
        return false;
    }
    if (app::runSettings().fileHeld)
        return true;
    return app::writeProfileString(section, key, value, file);
}

int app::leadingNumber(const QString &text)
{
    const QString t = text.trimmed();
    qint64 value = 0;
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+')))
        negative = t[i++] == QLatin1Char('-');
    for (; i < t.size() && t[i].isDigit() && t[i].unicode() < 0x80; ++i) {
        value = value * 10 + (t[i].unicode() - '0');
        if (value > 0x7FFFFFFF)
            return 0; // no port has such a number
    }
    return int(negative ? -value : value);
}

int app::comPortNumber() { return app::leadingNumber(app::runSettings().comPort); }
