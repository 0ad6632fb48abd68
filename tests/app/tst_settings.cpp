// The settings file: profile-file semantics, the start-up read/create, and
// the one-key save of later writers.

#include "app/RunSettings.h"
#include "app/Cp932.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "app/Constants.h"
#include "TestHarness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

namespace {
QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void lookupIgnoresCaseAndMissingReadsAsError();
    void writerKeepsOtherLinesAndAppendsInPlace();
    void valuesAreCutAt254Bytes();
    void fileIsWrittenInCodePage932();
    void writeLeavesEveryOtherLineByteForByte();
    void lineBreaksInAValueAddNoLines();
    void newFileIsReadableByItsOwnerOnly();
    void firstStartCreatesTheFileInOrder();
    void handEditedFileIsHonoured();
    void movedProgramRewritesOnlyAppPath();
    void missingKeyUsesDefaultWithoutAddingIt();
    void writerDoesNotRecreateADeletedFile();
    void garbageFileDoesNotEndTheProgram();
    void readOnlyFolderKeepsTheDefaults();
    void leadingNumberOfComPort_data();
    void leadingNumberOfComPort();
};

void TestSettings::lookupIgnoresCaseAndMissingReadsAsError()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.ini"));
    QCOMPARE(app::readProfileString(QStringLiteral("PASSLOG"), QStringLiteral("ViewSort"), file), kIniMissing);
    writeBytes(file, "; comment\r\n[passlog]\r\n  viewsort = OLD  \r\nEmpty=\r\nQuoted=\"a b\"\r\n");
    QCOMPARE(app::readProfileString(QStringLiteral("PASSLOG"), QStringLiteral("ViewSort"), file), QStringLiteral("OLD"));
    QCOMPARE(app::readProfileString(QStringLiteral("PASSLOG"), QStringLiteral("empty"), file), QString());
    QCOMPARE(app::readProfileString(QStringLiteral("PASSLOG"), QStringLiteral("Quoted"), file), QStringLiteral("a b"));
    QCOMPARE(app::readProfileString(QStringLiteral("PASSLOG"), QStringLiteral("Missing"), file), kIniMissing);
    QCOMPARE(app::readProfileString(QStringLiteral("RS232C"), QStringLiteral("ViewSort"), file), kIniMissing);
}

void TestSettings::writerKeepsOtherLinesAndAppendsInPlace()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.ini"));
    writeBytes(file, "; keep me\r\n[PASSLOG]\r\nAppPath=x\r\nViewSort=NEW\r\n\r\n[Other]\r\nk=v\r\n");
    app::writeProfileString(QStringLiteral("passlog"), QStringLiteral("VIEWSORT"), QStringLiteral("OLD"), file);
    app::writeProfileString(QStringLiteral("PASSLOG"), QStringLiteral("CSVPath"), QStringLiteral("/tmp/"), file);
    app::writeProfileString(QStringLiteral("RS232C"), QStringLiteral("ComPort"), QStringLiteral("3"), file);
    QCOMPARE(readBytes(file),
             QByteArray("; keep me\r\n[PASSLOG]\r\nAppPath=x\r\nVIEWSORT=OLD\r\nCSVPath=/tmp/\r\n\r\n"
                        "[Other]\r\nk=v\r\n[RS232C]\r\nComPort=3\r\n"));
}

void TestSettings::valuesAreCutAt254Bytes()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.ini"));
    app::writeProfileString(QStringLiteral("S"), QStringLiteral("Long"), QString(300, QLatin1Char('a')), file);
    QCOMPARE(app::readProfileString(QStringLiteral("S"), QStringLiteral("Long"), file).size(), 254);
    // A double-byte character is not split at the limit.
    app::writeProfileString(QStringLiteral("S"), QStringLiteral("Kanji"), QString(200, QChar(0x6771)), file);
    QCOMPARE(app::readProfileString(QStringLiteral("S"), QStringLiteral("Kanji"), file), QString(127, QChar(0x6771)));
}

void TestSettings::fileIsWrittenInCodePage932()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.ini"));
    app::writeProfileString(QStringLiteral("PASSLOG"), QStringLiteral("CSVPath"), QStringLiteral("C:\\デスクトップ\\"), file);
    const QByteArray bytes = readBytes(file);
    QVERIFY(bytes.contains(cp932::encode(QStringLiteral("デスクトップ"))));
    QVERIFY(!bytes.contains(QStringLiteral("デスクトップ").toUtf8()));
    QCOMPARE(app::readProfileString(QStringLiteral("PASSLOG"), QStringLiteral("CSVPath"), file),
             QStringLiteral("C:\\デスクトップ\\"));
}

void TestSettings::writeLeavesEveryOtherLineByteForByte()
{
    TestHarness h;
    // Hand-made lines that are not code page 932 (UTF-8, a stray byte), LF
    // line ends, and a last line without its line end.
    const QByteArray comment = QStringLiteral("; 読取機は USB 経由 — ä\n").toUtf8();
    const QByteArray device = QStringLiteral("Device1=/dev/serial/by-id/usb-Prolific_Résumé-if00\r\n").toUtf8();
    const QByteArray stray = "Note=\xFF\x80\xA0\x85\r\n";
    const QByteArray kanji = cp932::encode(QStringLiteral("CSVPath=D:\\出力\\\r\n"));
    writeBytes(h.settingsFile(), comment + "[PASSLOG]\r\nAppPath=C:\\old\\\r\n" + kanji + "ViewSort=OLD\n" +
                                     "[RS232C]\r\n" + device + stray + "ComPort=3");
    app::readSettingsFile();
    QCOMPARE(readBytes(h.settingsFile()), comment + "[PASSLOG]\r\n" + cp932::encode(QStringLiteral("AppPath=") + app::runSettings().programFolder) +
                                              "\r\n" + kanji + "ViewSort=OLD\n[RS232C]\r\n" + device + stray +
                                              "ComPort=3");
    QCOMPARE(app::runSettings().csvFolder, QStringLiteral("D:\\出力\\"));
    QCOMPARE(app::runSettings().comPort, QStringLiteral("3"));

    // A key added after an unterminated last line ends that line first.
    app::writeProfileString(QStringLiteral("RS232C"), QStringLiteral("Device2"), QStringLiteral("/dev/ttyUSB1"),
                            h.settingsFile());
    QVERIFY(readBytes(h.settingsFile()).endsWith("\r\n" + device + stray + "ComPort=3\r\nDevice2=/dev/ttyUSB1\r\n"));
}

void TestSettings::lineBreaksInAValueAddNoLines()
{
    TestHarness h;
    app::readSettingsFile();
    const QString file = h.settingsFile();
    const QByteArray before = readBytes(file);
    for (const QString &value : {QStringLiteral("/home/u/x\nViewSort=OLD"), QStringLiteral("/home/u/x\r\n[RS232C]\r\nComPort=7"),
                                 QStringLiteral("/home/u/x\rViewSort=OLD")})
        QVERIFY(app::writeProfileString(kSectionMain, QStringLiteral("CSVPath"), value, file));
    QCOMPARE(readBytes(file).count('\n'), before.count('\n'));
    QCOMPARE(readBytes(file).count('\r'), before.count('\r'));
    QCOMPARE(app::readProfileString(kSectionMain, QStringLiteral("CSVPath"), file), QStringLiteral("/home/u/xViewSort=OLD"));
    app::readSettingsFile();
    QCOMPARE(app::runSettings().viewSort, QStringLiteral("NEW"));
    QCOMPARE(app::runSettings().comPort, QStringLiteral("1"));
}

void TestSettings::newFileIsReadableByItsOwnerOnly()
{
#ifdef Q_OS_UNIX
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    TestHarness h;
    app::readSettingsFile();
    QCOMPARE(QFileInfo(h.settingsFile()).permissions(), ownerOnly);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.ini"));
    app::writeProfileString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"), file);
    QCOMPARE(QFileInfo(file).permissions(), ownerOnly);

    // A file that exists keeps the permissions it was given.
    const auto shared = ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(file, shared));
    app::writeProfileString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("w"), file);
    QCOMPARE(QFileInfo(file).permissions(), shared);
    app::readSettingsFile();
    QVERIFY(QFile::setPermissions(h.settingsFile(), shared));
    app::readSettingsFile();
    QCOMPARE(QFileInfo(h.settingsFile()).permissions(), shared);
#else
    QSKIP("owner-only file modes are POSIX");
#endif
}

void TestSettings::firstStartCreatesTheFileInOrder()
{
    TestHarness h;
    app::readSettingsFile();
    const QString appPath = QDir::toNativeSeparators(h.programFolder()) + QDir::separator();
    QCOMPARE(app::runSettings().programFolder, appPath);
    QCOMPARE(app::runSettings().viewSort, QStringLiteral("NEW"));
    QCOMPARE(app::runSettings().comPort, QStringLiteral("1"));
    QVERIFY(!app::runSettings().csvFolder.isEmpty());
    QVERIFY(app::runSettings().csvFolder.endsWith(QDir::separator()));
    QCOMPARE(app::settingsFileName(), h.settingsFile());
    const QByteArray expected = cp932::encode(QStringLiteral("[PASSLOG]\r\nAppPath=%1\r\nCSVPath=%2\r\nViewSort=NEW\r\n"
                                                             "[RS232C]\r\nComPort=1\r\n")
                                                  .arg(appPath, app::runSettings().csvFolder));
    QCOMPARE(readBytes(h.settingsFile()), expected);

    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("PASSLOG"), QStringLiteral("PASSLOG"));
    QCOMPARE(store.value(QStringLiteral("PATH/vUP")).toString(), appPath);
}

void TestSettings::handEditedFileIsHonoured()
{
    TestHarness h;
    writeBytes(h.settingsFile(), cp932::encode(QStringLiteral("[PASSLOG]\r\nAppPath=old\r\nCSVPath=D:\\出力\\\r\n"
                                                              "ViewSort=OLD\r\n[RS232C]\r\nComPort=3\r\n")));
    app::readSettingsFile();
    QCOMPARE(app::runSettings().csvFolder, QStringLiteral("D:\\出力\\"));
    QCOMPARE(app::runSettings().viewSort, QStringLiteral("OLD"));
    QCOMPARE(app::runSettings().comPort, QStringLiteral("3"));
    QCOMPARE(app::comPortNumber(), 3);

    // "ERROR" is the reserved default: a stored ERROR reads as absent.
    app::writeProfileString(QStringLiteral("PASSLOG"), QStringLiteral("ViewSort"), QStringLiteral("ERROR"), h.settingsFile());
    app::readSettingsFile();
    QCOMPARE(app::runSettings().viewSort, QStringLiteral("NEW"));
}

void TestSettings::movedProgramRewritesOnlyAppPath()
{
    TestHarness h;
    writeBytes(h.settingsFile(), "[PASSLOG]\r\nAppPath=C:\\old\\\r\nCSVPath=C:\\csv\\\r\nViewSort=OLD\r\n[RS232C]\r\nComPort=2\r\n");
    app::readSettingsFile();
    const QByteArray bytes = readBytes(h.settingsFile());
    QCOMPARE(bytes, cp932::encode(QStringLiteral("[PASSLOG]\r\nAppPath=%1\r\nCSVPath=C:\\csv\\\r\nViewSort=OLD\r\n"
                                                 "[RS232C]\r\nComPort=2\r\n").arg(app::runSettings().programFolder)));
}

void TestSettings::missingKeyUsesDefaultWithoutAddingIt()
{
    TestHarness h;
    writeBytes(h.settingsFile(), "[PASSLOG]\r\nViewSort=OLD\r\n");
    app::readSettingsFile();
    QCOMPARE(app::runSettings().comPort, QStringLiteral("1"));
    QCOMPARE(app::readProfileString(QStringLiteral("RS232C"), QStringLiteral("ComPort"), h.settingsFile()), kIniMissing);
}

void TestSettings::writerDoesNotRecreateADeletedFile()
{
    TestHarness h;
    app::readSettingsFile();
    QVERIFY(app::saveSetting(kSectionMain, QStringLiteral("ViewSort"), QStringLiteral("OLD")));
    QCOMPARE(app::readProfileString(kSectionMain, QStringLiteral("ViewSort"), h.settingsFile()), QStringLiteral("OLD"));
    QVERIFY(QFile::remove(h.settingsFile()));
    QVERIFY(!app::saveSetting(kSectionMain, QStringLiteral("ViewSort"), QStringLiteral("NEW")));
    QVERIFY(!QFile::exists(h.settingsFile()));
    QCOMPARE(h.messageTexts().last(), h.settingsFile() + QStringLiteral(" が見つかりません。"));
    QCOMPARE(h.messages().last().icon, seams::MsgIcon::Warning);
}

void TestSettings::garbageFileDoesNotEndTheProgram()
{
    TestHarness h;
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 7919 + 13) % 256);
    garbage += "\n[RS232C]\nComPort=\x82\xA0\xFF\x81\n[PASSLOG\nViewSort\n=\n";
    writeBytes(h.settingsFile(), garbage);
    QVERIFY(!endsProgram([] { app::readSettingsFile(); }));
    QCOMPARE(app::comPortNumber(), 0); // an unreadable port value is port 0, which the probe rejects
    QVERIFY(h.messages().isEmpty());
}

// A program folder nobody may write into, root included: the settings file
// is the user's, in the user's data folder. (This used to leave the program
// on its defaults with no file at all; that now happens only when the user's
// folder cannot be written either.)
void TestSettings::readOnlyFolderKeepsTheDefaults()
{
    TestHarness h;
    seams::setProgramFile(QStringLiteral("/proc/passlog"));
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QDir(h.programFolder()).filePath(QStringLiteral("data")).toUtf8());
    const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QVERIFY(!endsProgram([] { app::readSettingsFile(); }));
    QCOMPARE(app::runSettings().programFolder, QDir::toNativeSeparators(userFolder) + QDir::separator());
    QCOMPARE(app::settingsFileName(), app::runSettings().programFolder + QStringLiteral("passlog.ini"));
    QVERIFY(QFile::exists(app::settingsFileName()));
    QCOMPARE(app::readProfileString(kSectionMain, QStringLiteral("AppPath"), app::settingsFileName()), app::runSettings().programFolder);
    QVERIFY(app::saveSetting(kSectionMain, QStringLiteral("ViewSort"), QStringLiteral("OLD")));
    app::readSettingsFile(); // the next start finds it again
    QCOMPARE(app::runSettings().viewSort, QStringLiteral("OLD"));

    // Neither folder can be written.
    qputenv("XDG_DATA_HOME", "/proc/passlog-data");
    QVERIFY(!endsProgram([] { app::readSettingsFile(); }));
    QCOMPARE(app::runSettings().viewSort, QStringLiteral("NEW"));
    QCOMPARE(app::runSettings().comPort, QStringLiteral("1"));
    QVERIFY(!QFile::exists(app::settingsFileName()));
    QVERIFY(!app::saveSetting(kSectionMain, QStringLiteral("ViewSort"), QStringLiteral("OLD")));
    qputenv("XDG_DATA_HOME", savedDataHome);
    if (savedDataHome.isEmpty())
        qunsetenv("XDG_DATA_HOME");
}

void TestSettings::leadingNumberOfComPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::newRow("plain") << QStringLiteral("3") << 3;
    QTest::newRow("blanks and tail") << QStringLiteral(" 12abc") << 12;
    QTest::newRow("COM3") << QStringLiteral("COM3") << 0;
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("huge") << QStringLiteral("99999999999") << 0;
}

void TestSettings::leadingNumberOfComPort()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    QCOMPARE(app::leadingNumber(text), number);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
