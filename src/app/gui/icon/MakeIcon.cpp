// Writes the program's icon as PNG files at build time:
//   velmor-make-icon OUTDIR   -> OUTDIR/<n>x<n>/velmor.png for the usual sizes
#include "../AppIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: velmor-make-icon OUTDIR\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int s : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = out + QStringLiteral("/%1x%1").arg(s);
        const QString file = dir + QStringLiteral("/velmor.png");
        if (!QDir().mkpath(dir) || !velmor::AppIconImage(s).save(file)) {
            std::fprintf(stderr, "velmor-make-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
