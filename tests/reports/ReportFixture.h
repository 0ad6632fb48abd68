#pragma once
// History rows with every column the reports read, for the statement and
// CSV tests.

#include "../history/HistoryFixture.h"
#include "app/Cp932.h"
#include "history/ViewCondition.h"

#include <QProcess>
#include <QSqlError>
#include <QVariantMap>

// The view the tests show (a window keeps its own).
inline history::ViewQuery testView;

// A file's bytes, "<missing>" when it cannot be read.
inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A complete record of a Tomei passage, Tokyo to Atsugi, 1,320 yen.
inline QVariantMap tomeiRecord(const QString &card = QStringLiteral("1234"))
{
    return {{"ITC_IN", "01001"},
            {"ITC_IN_ROAD", "東名高速道路"},
            {"ITC_IN_GATE", "東京"},
            {"JID_IN", 101},
            {"JID_IN_NAME", "中日本高速道路"},
            {"ITC_OUT", "01005"},
            {"ITC_OUT_ROAD", "東名高速道路"},
            {"ITC_OUT_GATE", "厚木"},
            {"JID_OUT", 104},
            {"JID_OUT_NAME", "中日本高速道路"},
            {"REG_DATE", "2024/05/21"},
            {"REG_TIME", "09:00:00"},
            {"CARD_ID", card},
            {"PASS_DATE", "2024/05/20"},
            {"PASS_TIME", "18:42:10"},
            {"DATE_TIME", "2024/05/20-18:42:10"},
            {"CAR_CODE", 1},
            {"CAR_NAME", "普通車"},
            {"PASS_MONEY", 1320},
            {"PASS_UNIT", "円"},
            {"カードNO", card},
            {"ご利用日", "2024/05/20"},
            {"通過時間", "18:42:10"},
            {"通行料金", "1320円"},
            {"車種", "普通車"},
            {"入口料金所", "東名高速道路 東京"},
            {"出口料金所", "東名高速道路 厚木"}};
}

// The line of tomeiRecord() for card 1234, byte for byte (code page 932).
inline QByteArray tomeiLine(const QString &card = QStringLiteral("1234"))
{
    return cp932::encode("\"" + card +
                         "\",\"2024/05/20\",\"18:42:10\",1,1320,\"円\",\"普通車\",101,\"01001\",104,\"01005\","
                         "\"中日本高速道路\",\"東名高速道路\",\"東京\",\"中日本高速道路\",\"東名高速道路\",\"厚木\"\r\n");
}

// Inserts the record, with `changes` replacing some of its values (a null
// QVariant stores Null), where the program keeps that table.
inline void insertRecord(const QString &table, const QVariantMap &record, const QVariantMap &changes = {})
{
    QVariantMap r = record;
    for (auto it = changes.begin(); it != changes.end(); ++it)
        r[it.key()] = it.value();
    QStringList marks(r.size(), QStringLiteral("?"));
    // The history table may live on the shared history's server.
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                            .arg(table, QStringList(r.keys()).join(','), marks.join(','));
    const DbConnection where = history::route(DbConnection::History, sql);
    QSqlQuery q(history::database(where));
    q.prepare(where == DbConnection::Server ? sqldialect::toPostgres(sql) : sql);
    for (const QVariant &v : r)
        q.addBindValue(v);
    if (!q.exec())
        qFatal("insert failed: %s", qPrintable(q.lastError().text()));
}

// The view the grid would show: the card read (1) or the whole history (2).
inline void showView(qint16 viewMode)
{
    testView = {};
    testView.viewType = viewMode;
    testView.cardNo = QStringLiteral("0000");
}

// Columns from..from+width-1 (1-based, counted in code-page-932 bytes) of a line.
inline QString columns(const QString &line, int from, int width)
{
    return cp932::decode(cp932::encode(line).mid(from - 1, width));
}

// The pages of a PDF as text, compared in compatibility form with single
// blanks: the file maps some kanji to the look-alike radicals of the same glyph.
inline QStringList pdfPages(const QString &pdftotext, const QString &file)
{
    QProcess p;
    p.start(pdftotext, {"-layout", file, "-"});
    if (!p.waitForFinished(60000))
        return {};
    QStringList pages = QString::fromUtf8(p.readAllStandardOutput()).split('\f', Qt::SkipEmptyParts);
    for (QString &page : pages)
        page = page.normalized(QString::NormalizationForm_KC).simplified();
    pages.removeAll(QString());
    return pages;
}

