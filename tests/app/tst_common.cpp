// Fixed-width text in code-page-932 bytes, path checks, the null guard, the
// wait, and the text of the common error report.

#include "app/Cp932.h"
#include "app/Common.h"
#include "TestHarness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QtTest>
#include <optional>
#include <stdexcept>

class TestCommon : public QObject {
    Q_OBJECT
private slots:
    void byteWidths_data();
    void byteWidths();
    void fixString_data();
    void fixString();
    void rightStringPadsTheCallersVariable();
    void checkPathAndFileExistence();
    void checkNull();
    void errorReportOrderAndEnd();
    void failuresAreNamedAfterTheInnermostProcedure();
    void questionsUseTheInformationIcon();
};

void TestCommon::byteWidths_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::newRow("ascii") << QStringLiteral("ABC12") << 5;
    QTest::newRow("kanji") << QStringLiteral("東名") << 4;
    QTest::newRow("hiragana and full-width letters") << QStringLiteral("あＡ") << 4;
    QTest::newRow("half-width katakana") << QStringLiteral("ｶｰﾄﾞ") << 4;
    QTest::newRow("NEC extension (circled digit)") << QStringLiteral("①") << 2;
    QTest::newRow("unmappable becomes ?") << QStringLiteral("é😀") << 2;
    QTest::newRow("mixed") << QStringLiteral("A東ｱ") << 4;
}

void TestCommon::byteWidths()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QCOMPARE(cp932::width(text), width);
    QCOMPARE(cp932::encode(text).size(), width);
}

void TestCommon::fixString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ascii padded") << QStringLiteral("abc") << 5 << QStringLiteral("abc  ");
    QTest::newRow("ascii cut") << QStringLiteral("abcde") << 3 << QStringLiteral("abc");
    QTest::newRow("kanji cut before a split") << QStringLiteral("東名") << 3 << QStringLiteral("東 ");
    QTest::newRow("kanji exact") << QStringLiteral("東名") << 4 << QStringLiteral("東名");
    QTest::newRow("kanji padded") << QStringLiteral("東名") << 6 << QStringLiteral("東名  ");
    QTest::newRow("half-width katakana one byte each") << QStringLiteral("ｶｰﾄﾞ") << 3 << QStringLiteral("ｶｰﾄ");
    QTest::newRow("half-width katakana padded") << QStringLiteral("ｶﾅ") << 4 << QStringLiteral("ｶﾅ  ");
    QTest::newRow("unmappable counts one") << QStringLiteral("é") << 2 << QStringLiteral("é ");
    QTest::newRow("empty") << QString() << 2 << QStringLiteral("  ");
}

void TestCommon::fixString()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, expected);
    const QString result = app::fixedWidth(text, qint16(width));
    QCOMPARE(result, expected);
    QCOMPARE(cp932::width(result), width);
}

void TestCommon::rightStringPadsTheCallersVariable()
{
    QString digits = QStringLiteral("123");
    QCOMPARE(app::rightAligned(digits, 6), QStringLiteral("   123"));
    QCOMPARE(digits, QStringLiteral("   123"));

    QString wide = QStringLiteral("123");
    QCOMPARE(app::rightAligned(wide, 2), QStringLiteral("123"));
    QCOMPARE(wide, QStringLiteral("123"));

    QString kanji = QStringLiteral("円");
    QCOMPARE(app::rightAligned(kanji, 5), QStringLiteral("   円"));
    QString kana = QStringLiteral("ｶﾅ");
    QCOMPARE(app::rightAligned(kana, 4), QStringLiteral("  ｶﾅ"));
}

void TestCommon::checkPathAndFileExistence()
{
    const QChar sep = QDir::separator();
    QCOMPARE(app::withTrailingSeparator(QStringLiteral("abc")), QStringLiteral("abc") + sep);
    QCOMPARE(app::withTrailingSeparator(QStringLiteral("abc") + sep), QStringLiteral("abc") + sep);
    QCOMPARE(app::withTrailingSeparator(QString()), QString(sep));

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.txt"));
    QVERIFY(!app::fileExists(file));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    QVERIFY(app::fileExists(file));
    QVERIFY(!app::fileExists(dir.path())); // a folder is no file
    QCOMPARE(QFileInfo(file).size(), 1);                 // the probe does not change it
}

void TestCommon::checkNull()
{
    QCOMPARE(app::textOrEmpty(QVariant()), QString());
    QCOMPARE(app::textOrEmpty(QVariant(QMetaType::fromType<QString>())), QString());
    QCOMPARE(app::textOrEmpty(QVariant(1200)), QStringLiteral("1200"));
    QCOMPARE(app::textOrEmpty(QVariant(QStringLiteral("東名"))), QStringLiteral("東名"));
}

void TestCommon::errorReportOrderAndEnd()
{
    TestHarness h;
    QVERIFY(endsProgram([] { app::reportErrorAndEnd(QStringLiteral("basMain_CardRead"), 13, QStringLiteral("型が一致しません。")); }));
    QCOMPARE(h.messages().size(), 1);
    const seams::Message &m = h.messages().first();
    QCOMPARE(m.text, QStringLiteral("型が一致しません。 (13: basMain_CardRead)"));
    QCOMPARE(m.icon, seams::MsgIcon::Critical);
    QCOMPARE(m.buttons, seams::MsgButtons::Ok);
    QCOMPARE(m.title, QStringLiteral("PASSLOG"));
}

void TestCommon::failuresAreNamedAfterTheInnermostProcedure()
{
    TestHarness h;
    std::optional<Failure> caught;
    try {
        app::tagged(app::Procedure::ReadHistory, [] {
            app::tagged(app::Procedure::FixedWidthText, [] { throw Failure(52, QStringLiteral("ファイル名が不正です。")); });
        });
    } catch (const Failure &f) {
        caught = f;
    }
    QVERIFY(caught && caught->procedure() == app::Procedure::FixedWidthText);
    QVERIFY(h.messages().isEmpty()); // nothing shown on the way up
    QVERIFY(endsProgram([&] { app::reportFailureAndEnd(*caught, app::Procedure::ReadHistory); }));
    QCOMPARE(h.messageTexts(), QStringList{QStringLiteral("ファイル名が不正です。 (52: basCommon_FixString)")});

    // A failure the user can act on passes on untouched; a lack of memory
    // and any other exception become failures of the procedure.
    QVERIFY_THROWS_EXCEPTION(ExpectedFailure, app::tagged(app::Procedure::RightText, [] {
                                 throw ExpectedFailure(0, QStringLiteral("サーバーに接続できません。"));
                             }));
    const Failure memory = app::failureOf(std::make_exception_ptr(std::bad_alloc()), app::Procedure::RightText);
    QCOMPARE(memory.number(), 7L);
    QVERIFY(memory.procedure() == app::Procedure::RightText);
    const Failure other = app::failureOf(std::make_exception_ptr(std::runtime_error("x")), app::Procedure::RightText);
    QCOMPARE(other.number(), 5L);
    QCOMPARE(other.description(), QStringLiteral("x"));
}

void TestCommon::questionsUseTheInformationIcon()
{
    TestHarness h;
    h.queueAnswer(seams::MsgAnswer::Yes);
    h.queueAnswer(seams::MsgAnswer::Cancel);
    QVERIFY(app::askYesNo(QStringLiteral("登録しますか？")));
    QCOMPARE(app::askYesNoCancel(QStringLiteral("上書きしますか？")), seams::MsgAnswer::Cancel);
    QVERIFY(!app::askYesNo(QStringLiteral("もう一度？"))); // nothing queued: No
    app::showInfo(QStringLiteral("完了"));
    app::showWarning(QStringLiteral("注意"));
    const auto &ms = h.messages();
    QCOMPARE(ms.size(), 5);
    QCOMPARE(ms[0].icon, seams::MsgIcon::Information);
    QCOMPARE(ms[0].buttons, seams::MsgButtons::YesNo);
    QCOMPARE(ms[1].buttons, seams::MsgButtons::YesNoCancel);
    QCOMPARE(ms[3].icon, seams::MsgIcon::Information);
    QCOMPARE(ms[4].icon, seams::MsgIcon::Warning);
    for (const auto &m : ms)
        QCOMPARE(m.title, QStringLiteral("PASSLOG"));
}

QTEST_MAIN(TestCommon)
#include "tst_common.moc"
