#pragma once
// The program's CSV line, as the export writes it and CSV取込 reads it:
// fields separated by ",", text in double quotes with a quote inside doubled,
// numbers bare, Null as #NULL#, each line ended by CR LF. (The export's bulk
// path writes the same bytes straight from the store's values.)

#include <QString>
#include <QStringView>

namespace reports::csv {

inline const QString kNull = QStringLiteral("#NULL#");
inline const QString kLineEnd = QStringLiteral("\r\n");

// Appends text as a quoted field: "a""b".
inline void appendQuoted(QString &line, QStringView text)
{
    line += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            line += QLatin1Char('"');
        line += c;
    }
    line += QLatin1Char('"');
}

inline QString quoted(QStringView text)
{
    QString field;
    field.reserve(text.size() + 2);
    appendQuoted(field, text);
    return field;
}

} // namespace reports::csv
