#include "history/DatabaseErrors.h"

QString databaseErrorSentence(const QSqlError &error)
{
    bool ok = false;
    const long code = error.nativeErrorCode().toLong(&ok);
    // SQLite's result codes: the primary code in the low byte, an extended
    // code's detail above it. Other engines' codes (SQLSTATE) do not fit.
    if (!ok || code < 0 || (code >> 8) > 64)
        return QString();
    switch (code & 0xff) {
    case 14: // SQLITE_CANTOPEN
        return QStringLiteral("データベースファイルを開けません。フォルダーとファイルの場所とアクセス権を確認してください。");
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return QStringLiteral("データベースファイルは他のプログラムが使用中です。他のプログラムを終了してから、やり直してください。");
    case 13: // SQLITE_FULL
        return QStringLiteral("ディスクの空き容量が不足しているため、データベースファイルに書き込めません。");
    case 8: // SQLITE_READONLY
        return QStringLiteral("データベースファイルは読み取り専用のため、書き込めません。");
    case 11: // SQLITE_CORRUPT
    case 26: // SQLITE_NOTADB
        return QStringLiteral("データベースファイルが壊れているか、データベースファイルではありません。");
    case 10: // SQLITE_IOERR
        return QStringLiteral("データベースファイルの読み書き中にエラーが発生しました。");
    default:
        return QString();
    }
}
