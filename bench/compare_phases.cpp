// Times each phase of one comparison on existing trees:
//   bench_compare_phases SRC DST DATA_DIR
// (generate the trees with bench_gentree). Prints one line per phase in
// milliseconds, so a slow phase can be found without a profiler.
#include "compare/Compare.h"
#include "compare/FsList.h"
#include "compare/Session.h"
#include "env/Progress.h"
#include "env/Usr.h"
#include "tree/FolderTree.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

using namespace velmor;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fputs("usage: bench_compare_phases SRC DST DATA_DIR\n", stderr);
        return 2;
    }
    QDir().mkpath(QString::fromLocal8Bit(argv[3]));
    Usr::sUsrDt = QDir(QString::fromLocal8Bit(argv[3])).absolutePath() + QLatin1Char('/');
    QElapsedTimer clock;
    // Resident memory now and at its peak so far, from /proc/self/status.
    const auto memory = [] {
        QFile f(QStringLiteral("/proc/self/status"));
        QString now, peak;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n')) {
                if (line.startsWith("VmRSS:"))
                    now = QString::fromLatin1(line.mid(6).simplified());
                else if (line.startsWith("VmHWM:"))
                    peak = QString::fromLatin1(line.mid(6).simplified());
            }
        return now + QStringLiteral(" (peak ") + peak + QLatin1Char(')');
    };
    const auto lap = [&](const char* what) {
        std::printf("%-22s %7lld ms  %s\n", what, clock.restart(), qPrintable(memory()));
        std::fflush(stdout);
    };
    clock.start();

    FolderTree t1, t2;
    t1.setChkBx(true);
    t1.setRoot(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    t1.ExpndALL(2, true);
    t1.setPath(t1.Root());
    t1.SetChkBx(true);
    t2.setRoot(QDir(QString::fromLocal8Bit(argv[2])).absolutePath());
    lap("trees loaded");

    HeadlessProgress pg;
    Session s;
    s.progress = &pg;
    s.tree1 = &t1;
    s.tree2 = &t2;
    s.panel.chRet[1] = true;
    s.sFld1 = t1.Root();
    s.sFld2 = t2.Root();
    pg.cMsg(CmpMsg::FolderPhase, true);
    s.oDb.DbOpen();
    s.oDb.exec(QStringLiteral("Delete From tbFold"));
    s.nCnt = 1000;
    lap("open, empty tbFold");
    ScnFld1(s);
    lap("ScnFld1");
    ScnFld2(s, s.sFld2);
    lap("ScnFld2");
    ClsFld(s);
    lap("ClsFld");
    s.oDb.exec(QStringLiteral("Delete From tbFile"));
    lap("empty tbFile");
    s.nCnt = 1000;
    ScnFile(s);
    lap("ScnFile");
    ClsFile(s);
    lap("ClsFile");
    LstFill(s);
    lap("LstFill");
    if (qEnvironmentVariableIsSet("VELMOR_BENCH_FILL_ONLY")) {
        for (int i = 0; i < 10; ++i)
            LstFill(s);
        lap("LstFill x10");
        return 0;
    }
    std::printf("rows: %d\n", s.vSpr.rowCount());

    // Reference: reading both sides of every compared folder, nothing else.
    QStringList folders;
    s.oDb.forEachRow(QStringLiteral("Select sPh From tbFold Where sED Like '比較%'"), {}, [&](const SqlStmt& q) {
        folders << q.text(0);
        return true;
    });
    clock.restart();
    long long n = 0;
    for (const QString& f : folders) {
        n += (long long)FsList(s.sFld1 + QLatin1Char('/') + f, FsKind::Files).size();
        n += (long long)FsList(s.sFld2 + QLatin1Char('/') + f, FsKind::Files).size();
    }
    std::printf("(listing only: %lld entries)\n", n);
    lap("FsList both sides");
    return 0;
}
