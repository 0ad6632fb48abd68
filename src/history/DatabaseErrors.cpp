#include "history/DatabaseErrors.h"

#include <QDir>
#include <QFileInfo>

QString history::databaseErrorSentence(const QSqlError &error, const QString &path)
{
    bool ok = false;
    const long code = error.nativeErrorCode().toLong(&ok);
    return ok ? history::databaseErrorSentence(code, path) : QString();
}

QString history::databaseErrorSentence(long code, const QString &path)
{
    // SQLite's result codes: the primary code in the low byte, an extended
    // code's detail above it. Other engines' codes (SQLSTATE) do not fit.
    if (code < 0 || (code >> 8) > 64)
        return QString();
    switch (code & 0xff) {
    case 14: // SQLITE_CANTOPEN
        return QStringLiteral("データベースファイルを開けません。フォルダーとファイルの場所とアクセス権を確認してください。");
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return QStringLiteral("データベースファイルは他のプログラムが使用中です。他のプログラムを終了してから、やり直してください。");
    case 13: // SQLITE_FULL
        return QStringLiteral("ディスクの空き容量が不足しているため、データベースファイルに書き込めません。");
    case 8: { // SQLITE_READONLY
        // A writable file whose log index (-shm) is not writable for this
        // user (left by another user or a copy): SQLite opens the index
        // read-only and then refuses every write to the file.
        const QString shm = path + QStringLiteral("-shm");
        if (!path.isEmpty() && QFileInfo(path).isWritable() && QFileInfo::exists(shm) && !QFileInfo(shm).isWritable())
            return QStringLiteral("データベースファイルの作業用ファイル '") + QDir::toNativeSeparators(shm) +
                   QStringLiteral("' が読み取り専用(または他のユーザーのもの)のため、データベースファイルに書き込めません。"
                                  "このデータベースファイルを使うプログラムをすべて終了してから、作業用ファイルを削除するか、"
                                  "書き込めるようにしてください。");
        return QStringLiteral("データベースファイルは読み取り専用のため、書き込めません。");
    }
    case 11: // SQLITE_CORRUPT
    case 26: // SQLITE_NOTADB
        return QStringLiteral("データベースファイルが壊れているか、データベースファイルではありません。");
    case 10: // SQLITE_IOERR
        return QStringLiteral("データベースファイルの読み書き中にエラーが発生しました。");
    default:
        return QString();
    }
}

QString history::serverConnectSentence(const QString &libraryText)
{
    const QString text = libraryText.toLower();
    if (text.contains(QLatin1String("password authentication failed")) ||
        text.contains(QLatin1String("no password supplied")) || text.contains(QLatin1String("password is required")) ||
        text.contains(QLatin1String("password retrieved from file")))
        return QStringLiteral("共有の利用履歴サーバーがパスワードを受け付けませんでした(パスワードが違うか、ありません)。"
                              "PostgreSQL のパスワードファイル(~/.pgpass、Windows では %APPDATA%\\postgresql\\pgpass.conf、"
                              "または環境変数 PGPASSFILE が指すファイル)に、このサーバー・データベース・ユーザーの正しい"
                              "パスワードの行があるか確認してください。");
    if (text.contains(QLatin1String("role \"")) && text.contains(QLatin1String("does not exist")))
        return QStringLiteral("共有の利用履歴サーバーにこのユーザーがありません。設定ファイルの [DATABASE] User を確認してください。");
    if (text.contains(QLatin1String("database \"")) && text.contains(QLatin1String("does not exist")))
        return QStringLiteral("共有の利用履歴サーバーにこのデータベースがありません。設定ファイルの [DATABASE] Name を確認してください。");
    if (text.contains(QLatin1String("certificate")) || text.contains(QLatin1String("ssl")) ||
        text.contains(QLatin1String("tls")))
        return QStringLiteral("共有の利用履歴サーバーと安全な接続(TLS)ができないか、サーバーの証明書を確かめられません。"
                              "設定ファイルの [DATABASE] SSLMode と SSLRootCert(事務所の認証局の証明書)を確認してください。");
    return QStringLiteral("共有の利用履歴サーバーに接続できません。ネットワークとサーバーを確認してから、もう一度操作してください。");
}
