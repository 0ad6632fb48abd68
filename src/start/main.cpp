#include "start/basMain.h"

#include "app/Seams.h"
#include "app/basCommon.h"
#include "app/basGlobal.h"
#include "history/basAccess.h"
#include "history/basAccessEntry.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

namespace {

const char kCopyOption[] = "--copy-history-to-server";

// "passlog --copy-history-to-server": copies the history file of the program
// folder into the shared history the settings file names, once; a second run
// copies nothing again. No window: failures go to the error stream.
int copyHistoryToServer(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("PASSLOG"));
    AppPath = basCommon_CheckPath(seams::programFolder());
    basAccess_MDBOpen(kDatFile);
    const qint64 copied = basAccess_CopyHistoryToServer();
    basAccess_MDBClose(kDatFile);
    QTextStream(stdout) << copied << QStringLiteral("件の利用履歴をサーバーにコピーしました。") << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], kCopyOption) == 0)
        return copyHistoryToServer(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PASSLOG"));
    basMain_Main();
    return app.exec();
}
