#include "reports/CsvExport.h"

#include "app/CheckedSaveFile.h"
#include "app/Cp932.h"
#include "app/Failure.h"
#include "app/basCommon.h"
#include "history/ViewCondition.h"

#include <QFile>

namespace {
using C = ReportColumn;

// Fields 2 to 17, after the card number.
constexpr C kFields[] = {C::PassDate, C::PassTime,  C::CarCode,   C::PassMoney, C::PassUnit,   C::CarName,
                         C::JidIn,    C::ItcIn,     C::JidOut,    C::ItcOut,    C::JidInName,  C::ItcInRoad,
                         C::ItcInGate, C::JidOutName, C::ItcOutRoad, C::ItcOutGate};

void appendText(QString &line, const QString &text)
{
    line += QLatin1Char('"');
    if (text.contains(QLatin1Char('"')))
        line += QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\""));
    else
        line += text;
    line += QLatin1Char('"');
}

// A field as its value's own type: text quoted, a number bare, Null as #NULL#.
void appendField(QString &line, const QVariant &value)
{
    if (value.isNull()) {
        line += QStringLiteral("#NULL#");
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        line += value.toString();
        return;
    default:
        appendText(line, value.toString());
    }
}

[[noreturn]] void fileFailure(const QString &path, const QString &reason)
{
    throw Failure(75, QStringLiteral("パス/ファイル アクセス エラーです。") + path + QStringLiteral(": ") + reason);
}
} // namespace

QByteArray csvLine(const ReportRow &row, qint16 viewMode, const QString &card)
{
    QString line;
    line.reserve(256);
    if (viewMode == 2) {
        if (row[C::CardNo].isNull())
            throw Failure(94, QStringLiteral("Null の使い方が不正です。"));
        appendText(line, row[C::CardNo].toString());
    } else {
        appendText(line, card);
    }
    for (C c : kFields) {
        line += QLatin1Char(',');
        appendField(line, row[c]);
    }
    line += QStringLiteral("\r\n");
    return cp932::encode(line);
}

bool basMain_CSVFileCreate(const QString &path, qint16 mode, const ReportRowSource &rows, qint16 viewMode,
                           const QString &card)
{
    return guarded("basMain_CSVFileCreate", [&] {
        // Both modes write a whole new file and put it in place only when it is
        // complete: an append copies the old bytes first, so that a write that
        // fails half-way (a full disk) never leaves a cut line in the old file.
        const bool existed = QFile::exists(path);
        CheckedSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            fileFailure(path, out.errorString());
        const auto notWritten = [&] {
            out.close();
            basCommon_ShowWarning(fileNotWrittenText(QStringLiteral("CSVファイル"), path, existed));
            return false;
        };
        if (mode == CsvAppend && existed) {
            QFile old(path);
            if (!old.open(QIODevice::ReadOnly))
                fileFailure(path, old.errorString());
            while (!old.atEnd()) {
                const QByteArray chunk = old.read(1 << 20);
                if (chunk.isEmpty() && old.error() != QFileDevice::NoError)
                    fileFailure(path, old.errorString());
                if (out.write(chunk) != chunk.size())
                    return notWritten();
            }
        }
        ReportRow row;
        while (rows(row)) {
            const QByteArray line = csvLine(row, viewMode, card);
            if (out.write(line) != line.size())
                return notWritten();
        }
        if (!out.commit())
            return notWritten();
        return true;
    });
}

bool basMain_CSVFileCreate(const QString &path, qint16 mode, const QString &card)
{
    return guarded("basMain_CSVFileCreate", [&] {
        QueryRows rows(shownRowsStatement());
        return basMain_CSVFileCreate(path, mode, std::ref(rows), ViewCondition.ViewMode, card);
    });
}
