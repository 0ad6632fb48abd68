#pragma once
// Helpers that the whole program shares: the responsive wait, file and path
// checks, the database-null guard, the fixed-width text procedures measured in
// code-page-932 bytes, the message boxes and the common error report.

#include "app/Failure.h"
#include "app/Seams.h"

#include <QString>
#include <QVariant>

inline const QString kAppTitle = QStringLiteral("PASSLOG");

namespace app {

bool fileExists(const QString &path);
QString withTrailingSeparator(const QString &path);
QString textOrEmpty(const QVariant &value);
QString rightAligned(QString &text, qint16 width);
QString fixedWidth(const QString &text, qint16 width);

void showInfo(const QString &message);
void showWarning(const QString &message);
// Questions with the information icon; only "Yes" goes on.
bool askYesNo(const QString &message);
// The same question with いいえ as its default button: for questions that delete or replace.
bool askYesNoDefaultNo(const QString &message);
// Yes / No / Cancel, Return and Escape on キャンセル.
seams::MsgAnswer askYesNoCancel(const QString &message);
// A question of three answers named by buttonTexts (Yes, No, Cancel in that
// order); Return takes the first, Escape the last.
seams::MsgAnswer askChoice(const QString &message, const QStringList &buttonTexts);

// The folder separator that ends a folder path on this platform ("\" on Windows).
QChar pathSeparator();

} // namespace app
