// Drives the main window on the offscreen platform over existing trees
// (generate them with bench_gentree; bench/window.sh does it all):
//   bench_window_bench SRC DST DATA_DIR [--whole]
// --whole: the synchronisation is one run from start to end (no stop
// before it), to set beside velmor-cli sync on a copy of the same trees.
// Prints the time of the comparison with the grid fill (until the grid is
// painted), of the synchronisation, the longest gap between two ticks of a
// 10 ms timer during each, how soon the stop button ends a comparison, and
// the process's peak memory.
#include "app/gui/fmSync.h"
#include "app/gui/AppMain.h"
#include "env/Prompt.h"
#include "env/Usr.h"
#include "ui/ResultGrid.h"
#include "ui/WaitDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

using namespace velmor;

namespace {

// Messages go to stderr; questions are answered OK.
class BenchPrompt : public SilentPrompt {
public:
    void message(const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    bool question(const QString&) override { return true; }
};

// A 10 ms timer that remembers the longest time between two of its ticks.
class TickGap {
public:
    TickGap()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 gap = m_since.restart();
            if (gap > m_longest) {
                m_longest = gap;
                m_where = WaitDlg().isVisible() ? WaitDlg().panelText() : QStringLiteral("(no wait dialog)");
            }
            ++m_ticks;
        });
    }
    void start()
    {
        m_longest = 0;
        m_ticks = 0;
        m_where.clear();
        m_since.start();
        m_timer.start();
    }
    void stop()
    {
        m_timer.stop();
        if (m_since.elapsed() > m_longest) {
            m_longest = m_since.elapsed();
            m_where = QStringLiteral("(after the last tick)");
        }
    }
    qint64 longest() const { return m_longest; }
    // The wait dialog's message when the longest gap ended.
    QString where() const { return m_where; }
    long ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
    long m_ticks = 0;
    QString m_where;
};

long peakMb()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool whole = argc == 5 && QByteArray(argv[4]) == "--whole";
    if (argc != 4 && !whole) {
        std::fputs("usage: bench_window_bench SRC DST DATA_DIR [--whole]\n", stderr);
        return 2;
    }
    const QString src = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString dst = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QDir().mkpath(QString::fromLocal8Bit(argv[3]));
    Usr::sExeNm = QStringLiteral("velmor");
    Usr::sUsrDt = QDir(QString::fromLocal8Bit(argv[3])).absolutePath() + QLatin1Char('/');
    BenchPrompt prompt;
    Usr::setPrompt(&prompt);

    fmSync win;
    win.appEnd = [] {};
    win.show();
    QCoreApplication::processEvents();
    MainState& st = win.state();

    QElapsedTimer clock;
    clock.start();
    st.tree1.setRoot(src);
    st.tree2.setRoot(dst);
    st.tree1.ExpndALL(2, true);
    st.tree1.setPath(src);
    st.tree1.SetChkBx(true);
    win.chRet[1]->click();  // delete what the source lacks, as velmor-cli compare --delete
    QCoreApplication::processEvents();
    std::printf("trees loaded and ticked        %7lld ms\n", clock.elapsed());

    TickGap gap;
    gap.start();
    clock.restart();
    win.cmRet[0]->click();  // 比較: the comparison and the grid fill
    win.vSpr->viewport()->repaint();
    const qint64 compareMs = clock.elapsed();
    gap.stop();
    std::printf("compare + grid fill (window)   %7lld ms, %d rows, longest timer gap %lld ms (%ld ticks; at %s)\n",
                compareMs, st.s.vSpr.rowCount(), gap.longest(), gap.ticks(), qPrintable(gap.where()));

    // The stop button during a second comparison: from the click until the
    // command returns (the dialog holds "中断しました" until the clock's second
    // changes, at most a second, before the run sees the stop).
    qint64 clickedAt = -1;
    QTimer::singleShot(300, [&] {
        clickedAt = clock.elapsed();
        WaitDlg().stopButton()->click();
    });
    gap.start();
    clock.restart();
    win.cmRet[0]->click();
    const qint64 stoppedAt = clock.elapsed();
    gap.stop();
    std::printf("stop during a comparison       %7lld ms from the click to the end of the run,"
                " longest timer gap %lld ms (the stop message's hold included)\n",
                clickedAt >= 0 ? stoppedAt - clickedAt : -1, gap.longest());

    win.cmRet[0]->click();  // a full list again for the synchronisation

    // The stop button during the synchronisation; a second run then carries
    // out the rows the first one did not reach.
    if (!whole) {
        clickedAt = -1;
        QTimer::singleShot(300, [&] {
            clickedAt = clock.elapsed();
            WaitDlg().stopButton()->click();
        });
        clock.restart();
        win.cmRet[1]->click();
        std::printf("stop during a synchronisation  %7lld ms from the click to the end of the run\n",
                    clickedAt >= 0 ? clock.elapsed() - clickedAt : -1);
    }

    gap.start();
    clock.restart();
    win.cmRet[1]->click();  // 同期
    const qint64 syncMs = clock.elapsed();
    gap.stop();
    int done = 0, failed = 0;
    for (const ResultRow& r : st.s.vSpr.rows()) {
        done += r.flag == QLatin1String("2") && !r.result.isEmpty();
        failed += r.red;
    }
    std::printf("%s %7lld ms, %d rows carried out in all, %d failed, longest timer gap %lld ms"
                " (at %s)\n",
                whole ? "synchronisation, whole (window)" : "synchronisation, rest (window) ", syncMs, done, failed, gap.longest(), qPrintable(gap.where()));
    std::printf("peak memory                    %7ld MB\n", peakMb());
    std::fflush(stdout);
    Usr::setPrompt(nullptr);
    return failed == 0 ? 0 : 1;
}
