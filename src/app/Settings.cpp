#include "app/Settings.h"
#include "app/ProgramState.h"

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
    return app::withTrailingSeparator(app::state().programFolder) + seams::programBaseName() + QStringLiteral(".ini");
}

void app::holdSettingsFileForThisRun() { app::state().settingsFileHeld = true; }
bool app::settingsFileHeldForThisRun() { return app::state().settingsFileHeld; }

static QString desktopFolder()
{
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

void app::readSettingsFile()
{
    guarded(app::Procedure::ReadSettingsFile, [] {
        // The program folder, or the user's data folder when the program may
        // not write its own (an installation for all users).
        app::state().programFolder = app::withTrailingSeparator(app::dataFolder());

        // The per-user store only records where the program was last started from.
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, kAppTitle, kAppTitle);
        store.setValue(QStringLiteral("PATH/vUP"), app::state().programFolder);
        store.sync();

        // The desktop, or the data folder where the desktop does not exist.
        const QString desktop = desktopFolder();
        app::state().csvFolder = desktop.isEmpty() || !QFileInfo(desktop).isDir() ? app::state().programFolder
                                                                                  : app::withTrailingSeparator(desktop);
        app::state().viewSort = QStringLiteral("NEW");
        app::state().comPort = QStringLiteral("1");

        const QString file = app::settingsFileName();
        if (app::fileExists(file)) {
            if (!app::state().settingsFileHeld)
                app::writeProfileString(kSectionMain, QStringLiteral("AppPath"), app::state().programFolder, file);
            auto readInto = [&](const QString &section, const char *key, QString &target) {
                const QString v = app::readProfileString(section, QString::fromLatin1(key), file);
                if (v != kIniMissing)
                    target = v;
            };
            readInto(kSectionMain, "CSVPath", app::state().csvFolder);
            readInto(kSectionMain, "ViewSort", app::state().viewSort);
            readInto(kSectionPort, "ComPort", app::state().comPort);
        } else {
            app::writeProfileString(kSectionMain, QStringLiteral("AppPath"), app::state().programFolder, file);
            app::writeProfileString(kSectionMain, QStringLiteral("CSVPath"), app::state().csvFolder, file);
            app::writeProfileString(kSectionMain, QStringLiteral("ViewSort"), app::state().viewSort, file);
            app::writeProfileString(kSectionPort, QStringLiteral("ComPort"), app::state().comPort, file);
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
    if (app::state().settingsFileHeld)
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

int app::comPortNumber() { return app::leadingNumber(app::state().comPort); }
