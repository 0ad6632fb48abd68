#pragma once
// What the benchmarks share: a history database in a fresh program folder,
// the byte count of the emulator's traffic log, and a private PostgreSQL
// cluster for the shared history.

#include "app/RunSettings.h"
#include "app/Seams.h"
#include "app/Constants.h"
#include "history/Database.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdio>

// The program runs from dir with an empty history open, newest first;
// message boxes go to the error stream.
inline void openBenchHistory(const QTemporaryDir &dir)
{
    seams::setProgramFile(dir.filePath("passlog"));
    seams::setMessageBoxHandler([](const seams::Message &m) {
        std::fprintf(stderr, "%s\n", qPrintable(m.text));
        return seams::MsgAnswer::Ok;
    });
    app::runSettings().programFolder = dir.path() + '/';
    app::runSettings().viewSort = "NEW";
    history::openDatabase(kDatFile);
}

// Bytes of the emulator's "rx"/"tx" log lines (hex after the prefix).
inline qint64 bytesIn(const QStringList &hexLines)
{
    qint64 n = 0;
    for (const QString &line : hexLines)
        n += QByteArray::fromHex(line.toLatin1()).size();
    return n;
}

// A private cluster from scripts/pg-cluster.sh when the environment names
// none. Returns the reason when there is no server to measure.
inline QString startCluster(QString &startedData)
{
    if (!qEnvironmentVariableIsEmpty("PASSLOG_PG_PORT"))
        return {};
    QProcess script;
    script.start(QStringLiteral("bash"), {QStringLiteral(PASSLOG_SOURCE_DIR "/scripts/pg-cluster.sh"), QStringLiteral("start")});
    if (!script.waitForFinished(120000) || script.exitCode() != 0)
        return QStringLiteral("no PostgreSQL cluster could be started: ") +
               QString::fromLocal8Bit(script.readAllStandardError()).simplified();
    for (const QByteArray &line : script.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            qputenv(line.left(eq).constData(), line.mid(eq + 1));
    }
    startedData = qEnvironmentVariable("PASSLOG_PG_DATA");
    return {};
}

inline void stopCluster(const QString &data)
{
    if (data.isEmpty())
        return;
    QProcess::execute(QStringLiteral("bash"),
                      {QStringLiteral(PASSLOG_SOURCE_DIR "/scripts/pg-cluster.sh"), QStringLiteral("stop"), data});
}
