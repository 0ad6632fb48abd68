// Build tool: writes a fresh SQLite database from SQL script files.
//   make_master_db <output.sqlite> <script.sql>...
#include "history/Database.h"

#include "app/Failure.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: make_master_db <output.sqlite> <script.sql>...\n");
        return 2;
    }
    const QString output = args[1];
    const QString temp = output + QStringLiteral(".part");
    QFile::remove(temp);
    int rc = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("build"));
        db.setDatabaseName(temp);
        if (!db.open()) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(temp));
            return 1;
        }
        try {
            for (qsizetype i = 2; i < args.size(); ++i) {
                QFile f(args[i]);
                if (!f.open(QIODevice::ReadOnly)) {
                    std::fprintf(stderr, "cannot read %s\n", qPrintable(args[i]));
                    rc = 1;
                    break;
                }
                history::runScript(db, QString::fromUtf8(f.readAll()));
            }
        } catch (const Failure &e) {
            std::fprintf(stderr, "%s\n", e.what());
            rc = 1;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("build"));
    if (rc == 0) {
        QFile::remove(output);
        if (!QFile::rename(temp, output))
            rc = 1;
    } else {
        QFile::remove(temp);
    }
    return rc;
}
