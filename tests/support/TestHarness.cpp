#include "TestHarness.h"

#include "history/Database.h"

#include "reader/PortDevice.h"
#include "reader/ReaderLink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

TestHarness::TestHarness()
{
    m_now = QDateTime(QDate(2010, 6, 3), QTime(10, 0, 0));
    if (QCoreApplication::instance())
        reader::link().resetLine(); // each test finds the line as a start does
    qputenv("XDG_CONFIG_HOME", QDir(m_dir.path()).filePath(QStringLiteral(".config")).toUtf8());
    qputenv("HOME", m_dir.path().toUtf8());
    seams::setMessageBoxHandler([this](const seams::Message &m) {
        m_messages << m;
        if (m.buttons == seams::MsgButtons::Ok)
            return seams::MsgAnswer::Ok;
        return m_answers.isEmpty() ? seams::MsgAnswer::No : m_answers.takeFirst();
    });
    seams::setSaveFileHandler([this](const QString &, const QString &, const QString &) {
        return m_saveFiles.isEmpty() ? QString() : m_saveFiles.takeFirst();
    });
    seams::setProgramEndHandler([](int code) { throw seams::ProgramEnded{code}; });
    seams::setClock([this] { return m_now; });
    seams::setScreenMetrics(seams::ScreenMetrics{1280, 1024, 96.0, 96.0});
    seams::setProgramFile(QDir(m_dir.path()).filePath(QStringLiteral("passlog")));
    seams::setInstanceLockPath(lockPath());
    // ---- reader: no test touches the machine's own serial ports; every port
    // number names a missing device unless a test points it at the emulator ----
    seams::setPortDeviceHandler([](int port) { return QStringLiteral("/nonexistent/passlog-test-port%1").arg(port); });
    // ---- end reader ----
    // ---- databases: the master database the build ships, in the program folder ----
    QFile::copy(QStringLiteral(PASSLOG_BINARY_DIR "/ETC_MST.sqlite"),
                QDir(m_dir.path()).filePath(QStringLiteral("ETC_MST.sqlite")));
    // ---- end databases ----
}

TestHarness::~TestHarness()
{
    // ---- databases: no connection outlives the test's program folder ----
    history::closeDatabase(kMstFile);
    history::closeDatabase(kDatFile);
    // ---- end databases ----
    seams::setMessageBoxHandler({});
    seams::setSaveFileHandler({});
    seams::setProgramEndHandler({});
    seams::setClock({});
    seams::setScreenMetrics(std::nullopt);
    seams::setProgramFile({});
    seams::setInstanceLockPath({});
    seams::setPortDeviceHandler({}); // reader
}

QStringList TestHarness::messageTexts() const
{
    QStringList out;
    for (const auto &m : m_messages)
        out << m.text;
    return out;
}

void TestHarness::setNow(const QDateTime &now) { m_now = now; }

QString TestHarness::settingsFile() const { return QDir(m_dir.path()).filePath(QStringLiteral("passlog.ini")); }

QString TestHarness::lockPath() const { return QDir(m_dir.path()).filePath(QStringLiteral("instance.lock")); }
