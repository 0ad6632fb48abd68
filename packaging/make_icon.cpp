// Writes the program's icon as PNG files of the given sizes for the desktop's
// icon theme: make_icon <folder> <size>... gives <folder>/<size>/passlog.png.

#include "app/ProgramIcon.h"

#include <QDir>
#include <QString>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_icon FOLDER SIZE...\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString folder = out.filePath(QString::number(size));
        if (size <= 0 || !QDir().mkpath(folder) ||
            !app::programIcon(size).save(QDir(folder).filePath(QStringLiteral("passlog.png")))) {
            std::fprintf(stderr, "make_icon: cannot write the %s px icon\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
