#pragma once
// Helpers that the whole program shares: the responsive wait, file and path
// checks, the database-null guard, the fixed-width text procedures measured in
// code-page-932 bytes, the message boxes and the common error report.

#include "app/Failure.h"
#include "app/Seams.h"

#include <QString>
#include <QVariant>

inline const QString kAppTitle = QStringLiteral("PASSLOG");

// Keeps the window responsive for `ms` milliseconds (a local event loop on a
// monotonic clock: midnight does not cut it short).
void basCommon_Wait(qint32 ms);

bool basCommon_CheckFileExistence(const QString &path);
QString basCommon_CheckPath(const QString &path);
QString basCommon_CheckNull(const QVariant &value);
QString basCommon_RightString(QString &text, qint16 width);
QString basCommon_FixString(const QString &text, qint16 width);

void basCommon_ShowInfo(const QString &message);
void basCommon_ShowWarning(const QString &message);
// Questions with the information icon; only "Yes" goes on.
bool basCommon_AskYesNo(const QString &message);
// The same question with いいえ as its default button: for questions that delete or replace.
bool basCommon_AskYesNoDefaultNo(const QString &message);
seams::MsgAnswer basCommon_AskYesNoCancel(const QString &message);

// The folder separator that ends a folder path on this platform ("\" on Windows).
QChar basCommon_PathSeparator();
