#include "history/HistoryCheck.h"
#include "history/Staging.h"
#include "history/Transaction.h"

#include "app/Failure.h"
#include "app/Seams.h"
#include "app/Common.h"
#include "history/HistoryColumns.h"
#include "history/Database.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString kUndetermined = QStringLiteral("未確定");
const QString kJidOrder = QStringLiteral("ORDER BY JID_CODE_FROM,JID_CODE_TO,IC_CODE");

bool selected(const CardRecord &r, const history::StagingCondition &c)
{
    if (c.selectMode != 1)
        return true;
    // A date or time that does not convert lies outside every range.
    return c.range.contains(QDate::fromString(r.PASS_DATE, QStringLiteral("yyyy/MM/dd")),
                            QTime::fromString(r.PASS_TIME, QStringLiteral("HH:mm:ss")));
}

// Every column but the print mark, which starts at its default.
QStringList stagedColumns()
{
    QStringList columns = kHistoryColumnNames;
    columns.removeOne(kColumnPrintFlag);
    return columns;
}

} // namespace

QString history::displayToll(qint32 money, const QString &unit)
{
    if (unit == kUndetermined)
        return unit;
    return QString::number(money) + unit;
}

history::StagingCondition history::stagingCondition(const ViewSelection &selection)
{
    history::StagingCondition c;
    c.selectMode = selection.SelectMode == 1 ? 1 : 0;
    c.range = selection.Range;
    c.cardNo = history::selectedCardNo(selection);
    return c;
}

void history::stageRecords(const QList<CardRecord> &records, const history::StagingCondition &condition)
{
    app::tagged(app::Procedure::StageCardRecords, [&] {
        history::requireSoundHistory();
        QSqlDatabase db = history::database(DbConnection::History);
        const QString stamp = seams::now().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        const QString regDate = stamp.mid(0, 10);
        const QString regTime = stamp.mid(11, 8);

        history::Transaction transaction(db, false);
        QSqlQuery insert(db);
        if (!insert.prepare(history::insertStatement(kTableTemp, stagedColumns())))
            history::throwSqlError(insert.lastError());
        for (qsizetype i = 1; i < records.size(); ++i) {
            const CardRecord &r = records[i];
            if (!selected(r, condition))
                continue;
            QString outRoad, outGate, outJidName, carName;
            history::lookUpInterchange(r.ITC_OUT, outRoad, outGate);
            history::lookUpTollOffice(r.ITC_OUT, r.JID_OUT, r.CAR_CODE, outJidName, carName);
            QString inRoad, inGate, inJidName;
            history::lookUpInterchange(r.ITC_IN, inRoad, inGate);
            // The entrance office's name for the vehicle class is the one kept.
            history::lookUpTollOffice(r.ITC_IN, r.JID_IN, r.CAR_CODE, inJidName, carName);
            const QString inText = inRoad + QLatin1Char(' ') + inGate;
            const QString outText = outRoad + QLatin1Char(' ') + outGate;
            const QString cardNo = condition.cardNo;
            // In the order of stagedColumns().
            const QVariantList values{
                r.ITC_IN,      inRoad,     inGate,       int(r.JID_IN),  inJidName,
                r.ITC_OUT,     outRoad,    outGate,      int(r.JID_OUT), outJidName,
                regDate,       regTime,    cardNo,       r.PASS_DATE,    r.PASS_TIME,
                r.PASS_DATE + QLatin1Char('-') + r.PASS_TIME,
                int(r.CAR_CODE), carName,  int(r.PASS_MONEY), r.PASS_UNIT,
                cardNo,        r.PASS_DATE, r.PASS_TIME,
                history::displayToll(r.PASS_MONEY, r.PASS_UNIT),
                carName,       inText,     outText};
            for (int k = 0; k < values.size(); ++k)
                insert.bindValue(k, values[k]);
            if (!insert.exec())
                history::throwSqlError(insert.lastError());
        }
        transaction.commit();
    });
}

QString history::masterText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text)
        if (c.unicode() >= 0x20 && c.unicode() != 0x7f)
            out += c;
    return out;
}

void history::lookUpInterchange(const QString &icCode, QString &roadName, QString &icName)
{
    app::tagged(app::Procedure::InterchangeName, [&] {
        const QString sql = QStringLiteral("SELECT * FROM ") + kTableItc + QStringLiteral(" WHERE IC_CODE = ? ORDER BY IC_CODE;");
        QSqlQuery q = history::execute(DbConnection::Master, sql, {icCode});
        roadName = icCode;
        icName = icCode;
        if (q.next()) {
            // A name missing from the master row shows the code, as a missing row does.
            const QVariant road = q.value(QStringLiteral("ROAD_NAME"));
            const QVariant name = q.value(QStringLiteral("IC_NAME"));
            if (!road.isNull())
                roadName = history::masterText(road.toString());
            if (!name.isNull())
                icName = history::masterText(name.toString());
        }
        q.finish();
    });
}

void history::lookUpTollOffice(const QString &icCode, qint16 jid, qint16 carCode, QString &jidName, QString &carName)
{
    app::tagged(app::Procedure::RoadName, [&] {
        const QString head = QStringLiteral("SELECT * ") + QStringLiteral("FROM ") + kTableJid + QStringLiteral(" ");
        const history::BoundStatement exact{
            head + QStringLiteral("WHERE JID_CODE_FROM = ? AND JID_CODE_TO = ? AND IC_CODE = ? ") + kJidOrder +
                QStringLiteral(";"),
            {jid, jid, icCode}};
        const history::BoundStatement office{
            head + QStringLiteral("WHERE JID_CODE_FROM = ? AND JID_CODE_TO = ? ") + kJidOrder + QStringLiteral(";"),
            {jid, jid}};
        const QString all = head + kJidOrder + QStringLiteral(";");

        QSqlRecord found;
        bool have = false;
        for (const history::BoundStatement *s : {&exact, &office}) {
            QSqlQuery q = history::execute(DbConnection::Master, s->sql, s->values);
            if (q.next()) {
                found = q.record();
                have = true;
            }
            q.finish();
            if (have)
                break;
        }
        if (!have) {
            QSqlQuery q = history::execute(DbConnection::Master, all);
            while (q.next()) {
                const qint64 from = q.value(QStringLiteral("JID_CODE_FROM")).toLongLong();
                const qint64 to = q.value(QStringLiteral("JID_CODE_TO")).toLongLong();
                if (from <= jid && jid <= to) {
                    found = q.record();
                    have = true;
                    break;
                }
            }
            q.finish();
        }
        if (!have) {
            // No office knows the ID: no office name, the class shows its code.
            jidName.clear();
            carName = QString::number(carCode);
            return;
        }
        jidName = history::masterText(app::textOrEmpty(found.value(QStringLiteral("JID_NAME"))));
        history::vehicleClassName(found, carCode, carName);
    });
}

void history::vehicleClassName(const QSqlRecord &jidRow, qint16 carCode, QString &carName)
{
    app::tagged(app::Procedure::CarClassName, [&] {
        QString column;
        switch (carCode) {
        case 1: case 2: case 3: case 4: case 5: case 6: case 255:
            column = QStringLiteral("CAR_NAME") + QString::number(carCode);
            break;
        default:
            break;
        }
        carName = column.isEmpty() ? QString() : history::masterText(app::textOrEmpty(jidRow.value(column)));
        if (carName.isEmpty())
            carName = QString::number(carCode);
    });
}
