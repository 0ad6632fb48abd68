#pragma once
// What the benchmarks share: a history database in a fresh program folder,
// and the byte count of the emulator's traffic log.

#include "app/Seams.h"
#include "app/basGlobal.h"
#include "history/basAccess.h"

#include <QByteArray>
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
    AppPath = dir.path() + '/';
    ViewSort = "NEW";
    basAccess_MDBOpen(kDatFile);
}

// Bytes of the emulator's "rx"/"tx" log lines (hex after the prefix).
inline qint64 bytesIn(const QStringList &hexLines)
{
    qint64 n = 0;
    for (const QString &line : hexLines)
        n += QByteArray::fromHex(line.toLatin1()).size();
    return n;
}
